#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

// Small video files for tests (the kinds below are AVI; generate() writes MP4, MKV, TS or any
// other container a recipe asks for), made on first use and kept under KURIMO_TEST_DATA_DIR so
// that each is made once per build tree (the name carries a hash of how it was made, so a
// changed recipe makes a new file). Most come from the ffmpeg command-line tool; codecs it
// cannot encode (8-bit DIB, RLE8) and hand-made oddities (null frames, no index) come from
// writeAvi().
//
// Every frame's picture differs from its neighbours (testsrc2, or a frame-number bar pattern
// in the hand-made files), so a test that compares a frame with a reference cannot pass on
// the wrong frame.
//
// Safe to call from several test processes at once: files are written under a temporary
// name and renamed into place.
class ClipCorpus {
public:
    enum class Kind {
        Dib24,       // uncompressed BI_RGB 24 bit, 160x120, 60 frames
        Dib32,       // uncompressed BI_RGB 32 bit
        Dib16,       // uncompressed BI_RGB 16 bit (RGB555)
        Dib8,        // uncompressed 8 bit with a palette (hand-made)
        Rle8,        // MS RLE8, keyframe every 20, delta frames skip unchanged pixels (hand-made)
        MsVideo1,    // Microsoft Video 1 (CRAM), keyframe every 25
        Cinepak,     // keyframe every 25
        Mjpeg,       // full-range yuvj420p
        Huffyuv,
        Dv,          // 720x576 PAL DV, 40 frames
        Mpeg4Packed, // libxvid, 2 packed B-frames, keyframe every 50, 150 frames
        H264,        // libx264, 2 B-frames, keyframe every 50, 150 frames, 30000/1001 fps
        NullFrames,  // MJPEG, 100 slots, frames 3, 10, 17... are zero-size chunks (via ffmpeg)
        WithAudio,   // MJPEG 160x120 25 fps, 100 frames, with 4 s of PCM s16le stereo 44.1 kHz
    };

    struct Spec {
        int width = 160;
        int height = 120;
        int frameCount = 60; // frame slots, null frames included
        int rateNum = 25;
        int rateDen = 1;
        int keyframeInterval = 1; // 1: every frame is a keyframe
    };

    static QList<Kind> allKinds();
    static QString name(Kind kind);
    static Spec spec(Kind kind);

    // Path of the file, made now if it is not there yet; empty when it cannot be made (no
    // ffmpeg, say), with the reason in *error.
    static QString file(Kind kind, QString *error = nullptr);

    // Any other recipe: runs `ffmpeg -y -loglevel error ARGS -f avi OUT` once, where OUT is
    // DIR/NAME-HASH.avi (DIR defaults to KURIMO_TEST_DATA_DIR), and returns OUT or empty.
    // A recipe with its own -f after its last -i keeps that container.
    static QString generate(const QString &name, const QStringList &ffmpegArgs,
        QString *error = nullptr, const QString &dir = QString());

    // Runs ffmpeg to its end, standard input empty; its exit status (-1 when it did not exit by
    // itself), with what it wrote to standard output and error in *output.
    static int ffmpeg(const QStringList &args, QByteArray *output = nullptr);
    // A whole file's bytes (empty when it cannot be read), and a file made of `data`.
    static QByteArray readAll(const QString &path);
    static bool writeAll(const QString &path, const QByteArray &data);

    // A one-stream AVI written by hand: a BITMAPINFOHEADER, an optional palette, one chunk per
    // frame slot (an empty chunk is a null frame) and an idx1 index.
    struct Chunk {
        QByteArray data;
        bool keyframe = false;
        // A whole new palette (0x00RRGGBB) from this frame on, as a palette-change chunk
        // ("00pc") just before it, indexed with the no-time flag as Video for Windows does.
        std::vector<uint32_t> paletteChange;
    };
    struct RawAvi {
        int width = 0;
        int height = 0;
        int bitCount = 24;
        uint32_t compression = 0; // biCompression: 0 BI_RGB, 1 BI_RLE8
        int rateNum = 25;
        int rateDen = 1;
        std::vector<uint32_t> palette; // 0x00RRGGBB, up to 256 entries
        std::vector<Chunk> chunks;
    };
    static bool writeAvi(const QString &path, const RawAvi &avi);
    // `avi` written once as DIR/NAME.avi; change the name when the content changes.
    static QString handMade(const QString &name, const RawAvi &avi, QString *error = nullptr);
    // `frames` pattern frames with the pattern palette, 8-bit (compression 0) or RLE8 (1), a
    // keyframe every `keyframeInterval`.
    static RawAvi patternAvi(int width, int height, int frames, int keyframeInterval,
        uint32_t compression);
    static std::vector<uint32_t> patternPalette(); // 0x00RRGGBB
};
