#include "platform/video/decode/FFmpegLog.h"

#include "platform/video/FFmpegHandles.h"

#include <cstdarg>

namespace video {

namespace {

// The demuxer's parser reads each packet it hands on, the zeros a skipping scan serves too,
// and says so at length; what it says of them is no news.
thread_local bool t_quiet = false;

void logUnlessQuiet(void *context, int level, const char *format, va_list args)
{
    if (!t_quiet)
        av_log_default_callback(context, level, format, args);
}

// Set before main(), while no other thread can be logging. This file is linked whenever a
// QuietHere is made, so the hook is there wherever it is needed.
const bool g_logFilterSet = [] {
    av_log_set_callback(&logUnlessQuiet);
    return true;
}();

} // namespace

QuietHere::QuietHere()
{
    t_quiet = true;
}

QuietHere::~QuietHere()
{
    t_quiet = false;
}

} // namespace video
