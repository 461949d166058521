#include "platform/video/decode/ReadAhead.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

namespace video {

namespace {
constexpr int64_t kStep = 8ll << 20;   // asked for at a time
constexpr int64_t kAhead = 96ll << 20; // at most this far ahead of the scan, not to crowd
                                       // out the page cache on a small machine
} // namespace

ReadAhead::ReadAhead(const QByteArray &localPath, int64_t fileSize) : m_size(fileSize)
{
    if (fileSize < kMinFileSize)
        return;
    m_fd = ::open(localPath.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0)
        m_thread = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

void ReadAhead::run()
{
    for (int64_t next = 0; next < m_size;) {
        {
            // Far enough ahead: look again in a moment (the scan moves, nobody signals it).
            std::unique_lock<std::mutex> lock(m_mutex);
            if (next > m_scanAt.load(std::memory_order_relaxed) + kAhead) {
                m_wake.wait_for(lock, std::chrono::milliseconds(5));
                if (!m_stop)
                    continue;
            }
            if (m_stop)
                return;
        }
        // Blocks until the stretch is read in, keeping the thread just ahead of the disk.
        if (::readahead(m_fd, next, size_t(kStep)) != 0)
            return;
        next += kStep;
    }
}

} // namespace video
