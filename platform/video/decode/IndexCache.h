#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace video {

// Picture indexes that took a scan of the whole file (a transport stream, an MKV without cues,
// an AVI without idx1), kept between opens in one file per entry: the second open of a long
// recording reads a few megabytes instead of gigabytes.
//
// Nothing read back is trusted: an entry names the file by what the file system says of it
// (device, inode, size, modification time to the nanosecond) and the stream, and carries the
// format's version, libavformat's (whose byte positions and times it holds) and a checksum
// over all of it; any mismatch, a short read or a flipped byte and the entry is no entry. An
// entry is written to a temporary file and renamed into place, so a crash or a full disk
// leaves the old entry or none, never half of one. Nothing here fails an open: a folder that
// cannot be written leaves the player scanning as before (kurimo.video.indexcache says why).
class IndexCache {
public:
    // Some thirty two-hour recordings (one takes about 2 MB, twice that where the fields of a
    // picture are coded apart): a user's recent recordings, and 2% of the size of one of them.
    static constexpr qint64 kBoundBytes = 64ll << 20;

    // $XDG_CACHE_HOME/kurimo/index, or ~/.cache/kurimo/index where the variable is unset or
    // relative.
    static QString standardFolder();

    struct Key {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t modifiedSec = 0;
        int64_t modifiedNsec = 0;
        int32_t stream = 0;
        bool operator==(const Key &) const = default;
    };
    // The file as it is on disk now; none when it cannot be looked at.
    static std::optional<Key> keyOf(const QByteArray &localPath, int stream);

    explicit IndexCache(QString folder, qint64 boundBytes = kBoundBytes);

    // What was stored for this key, when an entry is there and sound.
    std::optional<QByteArray> load(const Key &key) const;
    // Keeps `payload` for the key, then drops the oldest entries beyond the bound. False when
    // it could not be written (the reason goes to the log only).
    bool store(const Key &key, const QByteArray &payload) const;

    QString entryPath(const Key &key) const;

    // What an entry's last eight bytes hold of all before them: enough to tell a damaged entry
    // from a sound one (nothing here is an adversary), eight bytes a step, as a two-hour
    // index is read on every open of its file.
    static uint64_t checksum(const char *data, qsizetype size);

private:
    void keepWithinBound() const;

    QString m_folder;
    qint64 m_bound;
};

// The plain encoding of what an index keeps: integers as variable-length numbers, most of
// them as differences from the one before, which makes a two-hour index a few megabytes.
class IndexWriter {
public:
    void number(uint64_t value);
    void signedNumber(int64_t value);
    // The difference from `before`, wrapping where the two lie far apart.
    void difference(int64_t value, int64_t before)
    {
        signedNumber(int64_t(uint64_t(value) - uint64_t(before)));
    }
    void raw(const QByteArray &bytes);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads what IndexWriter wrote; once anything runs past the end, every read gives 0 and ok()
// stays false.
class IndexReader {
public:
    explicit IndexReader(const QByteArray &bytes)
        : m_bytes(bytes), m_data(bytes.constData()), m_size(bytes.size())
    {
    }
    // Most numbers of an index take one byte: read here, the rest out of line.
    uint64_t number()
    {
        if (m_ok && m_at < m_size && !(m_data[m_at] & 0x80))
            return uint8_t(m_data[m_at++]);
        return longNumber();
    }
    int64_t signedNumber()
    {
        const uint64_t n = number();
        return int64_t(n >> 1) ^ -int64_t(n & 1);
    }
    int64_t difference(int64_t before)
    {
        return int64_t(uint64_t(before) + uint64_t(signedNumber()));
    }
    // A count that must fit in what is left, at `minBytes` (1 or more) each; 0 and not ok
    // when it cannot.
    int count(int minBytes = 1);
    QByteArray raw();
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_size; }
    void fail() { m_ok = false; }

private:
    uint64_t longNumber();

    const QByteArray &m_bytes;
    const char *m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
    bool m_ok = true;
};

} // namespace video
