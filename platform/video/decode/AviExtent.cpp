#include "platform/video/decode/AviExtent.h"
#include "platform/video/decode/ReadOnlyFile.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace video::avi {

uint32_t le32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

bool chunkId(const char *id)
{
    return std::all_of(id, id + 4, [](char c) { return c >= 0x20 && c <= 0x7e; }) &&
        std::memcmp(id, "    ", 4) != 0;
}

namespace {

// Reads a file in large blocks, so that walking chunk headers costs a system call per block,
// not two per header.
class BlockReader {
public:
    explicit BlockReader(const QByteArray &path) : m_file(path) {}

    int64_t size() const { return m_file.size(); }
    // The first `count` bytes, read alone: most files opened are no AVI and say so there,
    // without a block read (2 MB, some milliseconds off a disk).
    bool head(char *out, int count) const
    {
        return ::pread(m_file.fd(), out, size_t(count), 0) == ssize_t(count);
    }
    // `count` bytes at `at` (at most a block), or null when the file has fewer.
    const char *at(int64_t at, int count)
    {
        if (at < 0 || count > kBlock || at + count > m_file.size())
            return nullptr;
        if (at < m_blockAt || at + count > m_blockAt + int64_t(m_block.size())) {
            m_block.resize(size_t(std::min<int64_t>(kBlock * 2, m_file.size() - at)));
            const ssize_t got = ::pread(m_file.fd(), m_block.data(), m_block.size(), off_t(at));
            m_block.resize(size_t(std::max<ssize_t>(got, 0)));
            m_blockAt = at;
            if (int64_t(m_block.size()) < count)
                return nullptr;
        }
        return m_block.data() + (at - m_blockAt);
    }

    static constexpr int kBlock = 1 << 20;

private:
    ReadOnlyFile m_file;
    std::vector<char> m_block;
    int64_t m_blockAt = -1;
};

// A chunk header a writer would put in a movie list: a stream's data or index chunk, padding,
// a list, the index.
bool plausibleChunkAt(const char *h, int64_t at, int64_t size)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const bool streamChunk = digit(h[0]) && digit(h[1]) &&
        (std::memcmp(h + 2, "dc", 2) == 0 || std::memcmp(h + 2, "db", 2) == 0 ||
            std::memcmp(h + 2, "wb", 2) == 0 || std::memcmp(h + 2, "pc", 2) == 0 ||
            std::memcmp(h + 2, "tx", 2) == 0);
    const bool other = (h[0] == 'i' && h[1] == 'x' && digit(h[2]) && digit(h[3])) ||
        std::memcmp(h, "JUNK", 4) == 0 || std::memcmp(h, "LIST", 4) == 0 ||
        std::memcmp(h, "idx1", 4) == 0 || std::memcmp(h, "RIFF", 4) == 0;
    return (streamChunk || other) && at + 8 + int64_t(le32(h + 4)) <= size;
}

} // namespace

// Lists with a size that cannot be right (0, a placeholder, past the end) are walked chunk by
// chunk, others skipped whole: a finished file costs a few headers.
int64_t dataEnd(const QByteArray &path, const std::atomic<bool> *cancelled)
{
    constexpr int64_t kResync = 64 * 1024;
    BlockReader file(path);
    const int64_t size = file.size();
    char head[12];
    if (!file.head(head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "AVI ", 4) != 0)
        return size;
    int64_t pos = 12;
    while (pos + 8 <= size) {
        if (cancelled && cancelled->load())
            return size;
        const char *h = file.at(pos, 12);
        const bool listType = h != nullptr; // the four bytes after the header are there
        if (!h)
            h = file.at(pos, 8);
        if (!h)
            return size;
        if (!chunkId(h)) {
            int64_t found = -1;
            for (int64_t at = pos + 1; at + 8 <= std::min(size, pos + kResync) && found < 0;
                 ++at) {
                const char *c = file.at(at, 8);
                if (c && plausibleChunkAt(c, at, size))
                    found = at;
            }
            if (found < 0)
                return pos;
            pos = found;
            continue;
        }
        const int64_t length = le32(h + 4);
        const bool container = std::memcmp(h, "RIFF", 4) == 0 || std::memcmp(h, "LIST", 4) == 0;
        bool sizeWrong = length < 4 || pos + 8 + length > size;
        if (container && listType && !sizeWrong && std::memcmp(h + 8, "movi", 4) == 0) {
            // A movie list that runs to the end of the file, or is followed by what cannot be
            // a chunk, was never closed by an index: a writer may have given it the size it
            // preallocated. Its own chunks tell where the data stops.
            const char *after = file.at(pos + 8 + length + (length & 1), 8);
            sizeWrong = !after || !chunkId(after);
        }
        // Into the file's RIFF lists, and into lists whose size cannot be trusted; past the rest.
        if (container && (std::memcmp(h, "RIFF", 4) == 0 || sizeWrong)) {
            pos += 12;
            continue;
        }
        const int64_t next = pos + 8 + length + (length & 1);
        if (next > size)
            return size; // a chunk cut off by the end: the demuxer knows what to do with it
        pos = next;
    }
    return size;
}

bool claimedSize(const QByteArray &localPath, int64_t *width, int64_t *height)
{
    BlockReader file(localPath);
    const int64_t headerEnd = std::min<int64_t>(file.size(), BlockReader::kBlock);
    const char *header = file.at(0, int(headerEnd));
    if (!header)
        return false;
    const QByteArray bytes = QByteArray::fromRawData(header, qsizetype(headerEnd));
    for (qsizetype strh = bytes.indexOf("strh"); strh >= 0;
         strh = bytes.indexOf("strh", strh + 1)) {
        // A video stream's header chunk, then its format chunk: a BITMAPINFOHEADER.
        if (strh + 12 > headerEnd || std::memcmp(header + strh + 8, "vids", 4) != 0)
            continue;
        const int64_t length = le32(header + strh + 4);
        const int64_t strf = strh + 8 + length + (length & 1);
        if (strf + 20 > headerEnd || std::memcmp(header + strf, "strf", 4) != 0)
            continue;
        *width = int32_t(le32(header + strf + 12));
        *height = int32_t(le32(header + strf + 16));
        return true;
    }
    return false;
}

} // namespace video::avi

namespace video {

QByteArray demuxerUrl(const QString &path, const std::atomic<bool> *cancelled)
{
    const QByteArray local = QFile::encodeName(path);
    const int64_t end = avi::dataEnd(local, cancelled);
    struct stat st {};
    if (end <= 0 || ::stat(local.constData(), &st) != 0 || end >= int64_t(st.st_size))
        return local;
    // FFmpeg's subfile protocol: the same bytes at the same offsets, ending early.
    return "subfile,,start,0,end," + QByteArray::number(qint64(end)) + ",,:file:" + local;
}

} // namespace video
