#pragma once

#include <QString>

// Small AVI files with known sound, made with the ffmpeg tool on first use and kept in the
// build tree's test data (a file is written under a temporary name and renamed, so test
// processes running side by side never see half of one).
namespace audiotest {

enum class Sound {
    Sweep, // mono 44.1 kHz, 4 s, a sine gliding from 200 Hz up at 600 Hz per second
    Tone,  // stereo 44.1 kHz, 4 s, 440 Hz
};

// Whether this ffmpeg has the encoder.
bool canEncode(const QString &encoder);
// The sound, in the audio codec named as ffmpeg calls its encoder, next to an MJPEG picture;
// an empty string when this ffmpeg has no such encoder.
// Extra encoder options (e.g. "-q:a 4") go in `options`, blank-separated.
QString aviWith(Sound sound, const QString &encoder, const QString &options = {});
// An AVI with a picture and no sound.
QString aviWithoutSound();
// The sweep in a WAV file: sound, but not an AVI.
QString wavFile();
// A file of the given bytes.
QString fileWithBytes(const QString &name, const QByteArray &bytes);

// Frequency of the sweep at media time t, and its inverse.
inline double sweepHz(double t) { return 200 + 600 * t; }
inline double sweepTimeAt(double hz) { return (hz - 200) / 600; }

} // namespace audiotest
