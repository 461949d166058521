#pragma once

#include <QByteArray>

#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace video {

// A regular file opened for reading with pread, closed with it; size 0 when it is none.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QByteArray &path)
        : m_fd(::open(path.constData(), O_RDONLY | O_CLOEXEC))
    {
        struct stat st {};
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
            m_size = int64_t(st.st_size);
    }
    ~ReadOnlyFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    int fd() const { return m_fd; }
    int64_t size() const { return m_size; }

private:
    int m_fd = -1;
    int64_t m_size = 0;
};

} // namespace video
