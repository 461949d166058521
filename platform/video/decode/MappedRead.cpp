#include "platform/video/decode/MappedRead.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace video {

namespace {

struct Reading {
    const char *begin = nullptr;
    const char *end = nullptr;
    sigjmp_buf jump;
};

thread_local Reading *t_reading = nullptr;
struct sigaction s_before = {};

void onBusError(int signal, siginfo_t *info, void *context)
{
    Reading *reading = t_reading;
    const char *at = static_cast<const char *>(info->si_addr);
    if (reading && at >= reading->begin && at < reading->end)
        siglongjmp(reading->jump, 1);
    if (s_before.sa_flags & SA_SIGINFO) {
        if (s_before.sa_sigaction) {
            s_before.sa_sigaction(signal, info, context);
            return;
        }
    } else if (s_before.sa_handler != SIG_DFL && s_before.sa_handler != SIG_IGN) {
        s_before.sa_handler(signal);
        return;
    }
    // The fault happens again on return, now with the default action: the program ends as it
    // would have without this handler.
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(SIGBUS, &plain, nullptr);
}

void catchBusErrors()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &s_before);
    });
}

} // namespace

bool readMapped(const void *begin, std::size_t length, const std::function<void()> &read)
{
    catchBusErrors();
    Reading reading;
    reading.begin = static_cast<const char *>(begin);
    reading.end = reading.begin + length;
    if (sigsetjmp(reading.jump, 1) != 0) {
        t_reading = nullptr;
        return false;
    }
    struct Clear {
        ~Clear() { t_reading = nullptr; }
    } clear;
    t_reading = &reading;
    read();
    return true;
}

} // namespace video
