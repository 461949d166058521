#pragma once

#include "platform/video/FFmpegHandles.h"

#include <QString>

#include <atomic>

// What the picture and the sound both ask of a file before they read it: the demuxer over it
// (an unfinished AVI as far as its data goes) and what the demuxer took it for.
namespace video::container {

// Probed, not forced: the AVI demuxer forced on a file that is something else reads the whole
// file looking for chunks. Null with libavformat's error code in *code when it fails.
ff::FormatPtr open(const QString &path, int *code,
    const std::atomic<bool> *cancelled = nullptr);

bool isAvi(const AVFormatContext *format);
// Any text opens as "tty".
bool isText(const AVFormatContext *format);
// A picture opens as one of the image demuxers.
bool isStillPicture(const AVFormatContext *format);

} // namespace video::container
