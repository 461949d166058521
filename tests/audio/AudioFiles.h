#pragma once

#include "tests/support/ClipCorpus.h"

// Small AVI files with known sound, made with the ffmpeg tool on first use and kept with the
// corpus's files.
namespace audiotest {

enum class Sound {
    Sweep, // mono 44.1 kHz, 4 s, a sine gliding from 200 Hz up at 600 Hz per second
    Tone,  // stereo 44.1 kHz, 4 s, 440 Hz
};

// Frequency of the sweep at media time t, and its inverse.
inline double sweepHz(double t) { return 200 + 600 * t; }
inline double sweepTimeAt(double hz) { return (hz - 200) / 600; }

inline bool canEncode(const QString &encoder)
{
    static QByteArray list;
    if (list.isEmpty())
        ClipCorpus::ffmpeg({"-hide_banner", "-encoders"}, &list);
    return list.contains(' ' + encoder.toLatin1() + ' ');
}

// The sound in the audio codec named as ffmpeg calls its encoder, next to an MJPEG picture;
// empty when this ffmpeg has no such encoder. More encoder options (e.g. "-q:a 4") go in
// `options`, blank-separated.
inline QString aviWith(Sound s, const QString &encoder, const QString &options = {})
{
    if (!canEncode(encoder))
        return {};
    return ClipCorpus::generate(
        QStringLiteral("%1-%2").arg(s == Sound::Sweep ? "sweep" : "tone", encoder),
        QStringList{"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-f", "lavfi", "-i",
            s == Sound::Sweep ? "aevalsrc=exprs=0.5*sin(2*PI*(200*t+300*t*t)):s=44100"
                              : "aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=44100",
            "-t", "4", "-c:v", "mjpeg", "-c:a", encoder} +
            options.split(' ', Qt::SkipEmptyParts));
}

} // namespace audiotest
