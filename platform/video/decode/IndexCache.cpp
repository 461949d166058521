#include "platform/video/decode/IndexCache.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcIndexCache, "kurimo.video.indexcache", QtWarningMsg)

namespace video {

namespace {

// Raised whenever what an index holds, or how a scan builds it, changes: entries of another
// version are no entries.
constexpr uint32_t kFormatVersion = 4;
constexpr char kMagic[4] = {'K', 'I', 'D', 'X'};
constexpr qsizetype kHeaderSize = 4 + 4 + 4 + 8 + 8 + 8 + 8 + 8 + 4 + 8;
constexpr qsizetype kChecksumSize = 8;

template <typename T>
void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
T take(const char *&at)
{
    const T value = qFromLittleEndian<T>(at);
    at += sizeof(T);
    return value;
}

// FNV-1a over the few bytes that name an entry: the names stay those of earlier versions,
// so that a new version's entry replaces the old one's.
uint64_t nameHash(const char *data, qsizetype size)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (qsizetype i = 0; i < size; ++i)
        h = (h ^ uint8_t(data[i])) * 0x100000001b3ull;
    return h;
}

QByteArray header(const IndexCache::Key &key, qsizetype payloadSize)
{
    QByteArray out;
    out.reserve(kHeaderSize);
    out.append(kMagic, 4);
    put<uint32_t>(out, kFormatVersion);
    put<uint32_t>(out, avformat_version());
    put<uint64_t>(out, key.device);
    put<uint64_t>(out, key.inode);
    put<int64_t>(out, key.size);
    put<int64_t>(out, key.modifiedSec);
    put<int64_t>(out, key.modifiedNsec);
    put<int32_t>(out, key.stream);
    put<uint64_t>(out, uint64_t(payloadSize));
    return out;
}

} // namespace

uint64_t IndexCache::checksum(const char *data, qsizetype size)
{
    // Two lanes, so that the multiplications overlap; every step is a bijection of a lane's
    // state, so a changed word always changes its lane, and so the result.
    constexpr uint64_t kOdd[2] = {0x9e3779b97f4a7c15ull, 0xc2b2ae3d27d4eb4full};
    uint64_t lane[2] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull ^ uint64_t(size)};
    const auto step = [&](int l, uint64_t word) {
        const uint64_t x = lane[l] ^ word;
        lane[l] = ((x << 31) | (x >> 33)) * kOdd[l];
    };
    qsizetype at = 0;
    for (; at + 16 <= size; at += 16) {
        step(0, qFromLittleEndian<uint64_t>(data + at));
        step(1, qFromLittleEndian<uint64_t>(data + at + 8));
    }
    for (; at < size; at += 8) {
        char tail[8] = {};
        std::memcpy(tail, data + at, size_t(std::min<qsizetype>(8, size - at)));
        step(0, qFromLittleEndian<uint64_t>(tail));
    }
    const uint64_t h = lane[0] ^ ((lane[1] << 17) | (lane[1] >> 47)) * kOdd[0];
    return h ^ (h >> 32);
}

QString IndexCache::standardFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    // A folder of its own: the player's folder holds other things (the demo clip) that the
    // bound must never drop.
    return base + QStringLiteral("/kurimo/index");
}

std::optional<IndexCache::Key> IndexCache::keyOf(const QByteArray &localPath, int stream)
{
    struct stat st {};
    if (::stat(localPath.constData(), &st) != 0)
        return std::nullopt;
    Key key;
    key.device = uint64_t(st.st_dev);
    key.inode = uint64_t(st.st_ino);
    key.size = int64_t(st.st_size);
    key.modifiedSec = int64_t(st.st_mtim.tv_sec);
    key.modifiedNsec = int64_t(st.st_mtim.tv_nsec);
    key.stream = stream;
    return key;
}

IndexCache::IndexCache(QString folder, qint64 boundBytes)
    : m_folder(std::move(folder)), m_bound(boundBytes)
{
}

QString IndexCache::entryPath(const Key &key) const
{
    const QByteArray named = header(key, 0);
    // The version stays out of the name: a new version's entry replaces the old one's.
    const uint64_t h = nameHash(named.constData() + 12, named.size() - 12 - 8);
    return m_folder + QStringLiteral("/%1.index").arg(h, 16, 16, QLatin1Char('0'));
}

std::optional<QByteArray> IndexCache::load(const Key &key) const
{
    const QString path = entryPath(key);
    QFile file(path);
    // Nothing larger than the whole cache was written here: not read in to find that out.
    if (!file.open(QIODevice::ReadOnly) || file.size() > m_bound)
        return std::nullopt;
    const QByteArray entry = file.readAll();
    const QByteArray expected = header(key, 0);
    const qsizetype headSize = expected.size();
    auto refuse = [&](const char *why) -> std::optional<QByteArray> {
        qCInfo(lcIndexCache) << "not used:" << path << why;
        return std::nullopt;
    };
    if (entry.size() < headSize + kChecksumSize)
        return refuse("short");
    const char *end = entry.constData() + entry.size() - kChecksumSize;
    if (take<uint64_t>(end) != checksum(entry.constData(), entry.size() - kChecksumSize))
        return refuse("checksum");
    // Everything but the payload's length must match: the version and the file.
    if (std::memcmp(entry.constData(), expected.constData(), size_t(headSize - 8)) != 0)
        return refuse("another version or another file");
    const char *at = entry.constData() + headSize - 8;
    const uint64_t payloadSize = take<uint64_t>(at);
    if (payloadSize != uint64_t(entry.size() - headSize - kChecksumSize))
        return refuse("length");
    // In use: the last to go when the folder is trimmed.
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
    return entry.mid(headSize, qsizetype(payloadSize));
}

bool IndexCache::store(const Key &key, const QByteArray &payload) const
{
    const QString path = entryPath(key);
    auto failed = [&](const QString &why) {
        qCInfo(lcIndexCache) << "not kept:" << path << why;
        return false;
    };
    if (payload.size() + kHeaderSize + kChecksumSize > m_bound)
        return failed(QStringLiteral("larger than the whole cache"));
    if (!QDir().mkpath(m_folder))
        return failed(QStringLiteral("no folder"));
    QByteArray entry = header(key, payload.size());
    entry.append(payload);
    put<uint64_t>(entry, checksum(entry.constData(), entry.size()));
    // A temporary file beside the entry, renamed over it once whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (file.write(entry) != entry.size() || !file.commit())
        return failed(file.errorString());
    keepWithinBound();
    return true;
}

void IndexCache::keepWithinBound() const
{
    // Oldest first: an entry's time is that of its last use.
    // Only what the cache wrote: whatever else is in the folder is not its to drop.
    const QFileInfoList entries = QDir(m_folder).entryInfoList({QStringLiteral("*.index")},
        QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo &e : entries)
        total += e.size();
    for (const QFileInfo &e : entries) {
        if (total <= m_bound)
            break;
        if (QFile::remove(e.absoluteFilePath()))
            total -= e.size();
    }
}

void IndexWriter::number(uint64_t value)
{
    while (value >= 0x80) {
        m_bytes.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    m_bytes.append(char(value));
}

void IndexWriter::signedNumber(int64_t value)
{
    number(uint64_t(value) << 1 ^ uint64_t(value >> 63));
}

void IndexWriter::raw(const QByteArray &bytes)
{
    number(uint64_t(bytes.size()));
    m_bytes.append(bytes);
}

uint64_t IndexReader::longNumber()
{
    // Ten bytes hold any number: where that many are left, no byte needs a bounds check.
    constexpr qsizetype kLongest = 10;
    const auto *at = reinterpret_cast<const uint8_t *>(m_data) + m_at;
    const qsizetype left = m_ok ? m_size - m_at : 0;
    uint64_t value = 0;
    for (qsizetype i = 0; i < std::min(left, kLongest); ++i) {
        value |= uint64_t(at[i] & 0x7f) << (7 * i);
        if (!(at[i] & 0x80)) {
            m_at += i + 1;
            return value;
        }
    }
    m_ok = false;
    return 0;
}

int IndexReader::count(int minBytes)
{
    const uint64_t n = number();
    if (!m_ok || n > uint64_t(m_size - m_at) / uint64_t(minBytes)) {
        m_ok = false;
        return 0;
    }
    return int(n);
}

QByteArray IndexReader::raw()
{
    const int size = count();
    if (!m_ok)
        return {};
    const QByteArray bytes = m_bytes.mid(m_at, size);
    m_at += size;
    return bytes;
}

} // namespace video
