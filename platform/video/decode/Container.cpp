#include "platform/video/decode/Container.h"

#include "platform/video/decode/AviExtent.h"

#include <cstring>

namespace video::container {

namespace {

const char *nameOf(const AVFormatContext *format)
{
    return format && format->iformat && format->iformat->name ? format->iformat->name : "";
}

} // namespace

ff::FormatPtr open(const QString &path, int *code, const std::atomic<bool> *cancelled)
{
    AVFormatContext *raw = nullptr;
    const QByteArray name = demuxerUrl(path, cancelled);
    *code = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
    return ff::FormatPtr(*code < 0 ? nullptr : raw);
}

bool isAvi(const AVFormatContext *format)
{
    return std::strcmp(nameOf(format), "avi") == 0;
}

bool isText(const AVFormatContext *format)
{
    const char *name = nameOf(format);
    return !*name || std::strcmp(name, "tty") == 0;
}

bool isStillPicture(const AVFormatContext *format)
{
    const char *name = nameOf(format);
    return std::strstr(name, "_pipe") || std::strcmp(name, "image2") == 0;
}

} // namespace video::container
