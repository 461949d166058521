#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace video {

// Keeps the disk busy ahead of a scan of the whole file. A demuxer reads in small pieces and
// works on each before it asks for the next, so the kernel's own read-ahead leaves the disk
// idle while the packets are parsed and the parse idle while the disk seeks: a file not in the
// page cache then opened in the sum of the two times. A thread of its own asks for the file a
// stretch ahead of where the scan is, so that the open takes about the longer of the two. The
// data is only brought into the page cache (readahead(2)), never copied here; a file already
// there costs next to nothing. Nothing here fails: without it the scan is only slower.
class ReadAhead {
public:
    // Files smaller than this are left to the kernel: its read-ahead covers them in a few steps.
    static constexpr int64_t kMinFileSize = 64ll << 20;

    ReadAhead(const QByteArray &localPath, int64_t fileSize);
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Where the scan has got to (a byte position); -1 is ignored.
    void at(int64_t pos)
    {
        if (pos > m_scanAt.load(std::memory_order_relaxed))
            m_scanAt.store(pos, std::memory_order_relaxed);
    }

private:
    void run();

    int m_fd = -1;
    int64_t m_size = 0;
    std::atomic<int64_t> m_scanAt{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace video
