// The index kept between opens is used only for the very file it was made from, and only
// when it reads back whole: a changed or replaced file, a damaged entry, another version's or
// another file's is rebuilt. Whether a reopen from it shows the same pictures as a fresh
// index, every shape of the exactness table tells (FrameExactnessTest).
//
// To see which index an open took, the entry of a file of 40 pictures is planted for one of
// 30: 40 pictures mean the entry was used, 30 that the file was scanned again.

#include "platform/video/decode/IndexCache.h"
#include "platform/video/decode/MediaFile.h"
#include "platform/video/decode/TimestampIndex.h"
#include "tests/decode/IndexBothWays.h"
#include "tests/support/ClipCorpus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

namespace {

using video::IndexCache;

constexpr int kPlanted = 40;
constexpr int kOwn = 30;

QString madeTs(int frames, QString *error)
{
    return ClipCorpus::generate(QStringLiteral("index-cache-%1").arg(frames),
        {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25", "-frames:v", QString::number(frames),
            "-c:v", "libx264", "-g", "10", "-preset", "veryfast", "-f", "mpegts"},
        error);
}

int framesOpened(const QString &path, const QString &cache)
{
    video::DecodeOptions options;
    options.indexCache = cache;
    video::OpenError why;
    const auto file = video::MediaFile::open(path, &why, 0, nullptr, nullptr, options);
    return file ? file->info().frameCount : -1;
}

IndexCache::Key keyOf(const QString &path)
{
    return IndexCache::keyOf(QFile::encodeName(path), 0).value_or(IndexCache::Key{});
}

// The file's times as they were: a change that keeps them is seen by its size or inode alone.
void keepTimes(const QString &path, const struct stat &before)
{
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// An entry rewritten with one field changed and its checksum made right again.
void rewriteField(const QString &entry, int offset, uint32_t value)
{
    QByteArray bytes = ClipCorpus::readAll(entry);
    ASSERT_GT(bytes.size(), 16);
    qToLittleEndian(value, bytes.data() + offset);
    qToLittleEndian(IndexCache::checksum(bytes.constData(), bytes.size() - 8),
        bytes.data() + bytes.size() - 8);
    ASSERT_TRUE(ClipCorpus::writeAll(entry, bytes));
}

struct Planted {
    QString file;      // the file of 30 pictures, a copy of our own
    QString entry;     // where its entry lies
    QString other;     // the entry of the file of 40 pictures
};

struct Change {
    const char *what;
    std::function<void(const Planted &)> change;
    int frames;
};

const Change kChanges[] = {
    {"none: the entry is used", [](const Planted &) {}, kPlanted},
    {"modified a second later",
        [](const Planted &s) {
            struct stat st = statOf(s.file);
            st.st_mtim.tv_sec += 1;
            keepTimes(s.file, st);
        },
        kOwn},
    {"grown, its times kept",
        [](const Planted &s) {
            const struct stat before = statOf(s.file);
            QFile f(s.file);
            ASSERT_TRUE(f.open(QIODevice::Append));
            QByteArray nullPacket(188, char(0xff));
            nullPacket[0] = 0x47, nullPacket[1] = 0x1f, nullPacket[2] = char(0xff),
            nullPacket[3] = 0x10;
            f.write(nullPacket);
            f.close();
            keepTimes(s.file, before);
        },
        kOwn},
    {"replaced by a copy of the same size and times",
        [](const Planted &s) {
            const struct stat before = statOf(s.file);
            const QString copy = s.file + QStringLiteral(".new");
            ASSERT_TRUE(QFile::copy(s.file, copy));
            keepTimes(copy, before);
            ASSERT_EQ(::rename(QFile::encodeName(copy).constData(),
                          QFile::encodeName(s.file).constData()),
                0);
        },
        kOwn},
    {"a byte flipped",
        [](const Planted &s) {
            QByteArray bytes = ClipCorpus::readAll(s.entry);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
            ASSERT_TRUE(ClipCorpus::writeAll(s.entry, bytes));
        },
        kOwn},
    {"cut short",
        [](const Planted &s) {
            ASSERT_TRUE(QFile::resize(s.entry, QFileInfo(s.entry).size() - 1));
        },
        kOwn},
    {"another version", [](const Planted &s) { rewriteField(s.entry, 4, 999); }, kOwn},
    {"another file's under its name",
        [](const Planted &s) {
            ASSERT_TRUE(QFile::remove(s.entry));
            ASSERT_TRUE(QFile::copy(s.other, s.entry));
        },
        kOwn},
};

TEST(IndexCache, AnEntryServesOnlyTheFileItWasMadeForAndOnlyWhole)
{
    QString error;
    const QString planted = madeTs(kPlanted, &error);
    const QString own = madeTs(kOwn, &error);
    if (planted.isEmpty() || own.isEmpty())
        GTEST_SKIP() << "could not make the files: " << error.toStdString();
    for (const Change &c : kChanges) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("kurimo"));
        Planted s;
        s.file = dir.filePath(QStringLiteral("own.ts"));
        ASSERT_TRUE(QFile::copy(own, s.file));
        ASSERT_EQ(framesOpened(planted, cache), kPlanted);
        const IndexCache store(cache);
        const std::optional<QByteArray> plantedIndex = store.load(keyOf(planted));
        ASSERT_TRUE(plantedIndex);
        ASSERT_TRUE(store.store(keyOf(s.file), *plantedIndex));
        s.entry = store.entryPath(keyOf(s.file));
        s.other = store.entryPath(keyOf(planted));
        c.change(s);
        EXPECT_EQ(framesOpened(s.file, cache), c.frames);
        // What was rebuilt is kept in its place.
        EXPECT_EQ(framesOpened(s.file, cache), c.frames);
        EXPECT_TRUE(store.load(keyOf(s.file)));
    }
}

TEST(IndexCache, AFolderThatCannotBeMadeLeavesTheOpenWithoutOne)
{
    QString error;
    const QString own = madeTs(kOwn, &error);
    if (own.isEmpty())
        GTEST_SKIP() << "could not make the file: " << error.toStdString();
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("a-file"));
    ASSERT_TRUE(ClipCorpus::writeAll(plain, "not a folder"));
    EXPECT_EQ(framesOpened(own, plain + QStringLiteral("/kurimo")), kOwn);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("a-file")});
}

// Beyond the bound the entries used longest ago go; one larger than the bound is not kept.
// Nothing else in the folder is the cache's to drop, however old.
TEST(IndexCache, TheFolderStaysWithinItsBoundDroppingTheLeastRecentlyUsed)
{
    QTemporaryDir dir;
    const QByteArray payload(1000, 'x');
    const QString other = dir.path() + QStringLiteral("/demo.avi");
    {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'z'));
    }
    const timespec longest_ago[2] = {{10, 0}, {10, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), longest_ago, 0);
    const IndexCache probe(dir.path());
    ASSERT_TRUE(probe.store(IndexCache::Key{.inode = 99}, payload));
    const qint64 entrySize = QFileInfo(probe.entryPath(IndexCache::Key{.inode = 99})).size();
    ASSERT_TRUE(QFile::remove(probe.entryPath(IndexCache::Key{.inode = 99})));

    const IndexCache cache(dir.path(), 3 * entrySize);
    const IndexCache::Key keys[] = {{.inode = 1}, {.inode = 2}, {.inode = 3}, {.inode = 4}};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cache.store(keys[i], payload));
        const timespec long_ago[2] = {{1000 + i, 0}, {1000 + i, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(cache.entryPath(keys[i])).constData(), long_ago,
            0);
    }
    EXPECT_TRUE(cache.load(keys[0])); // used: now the newest of the three
    ASSERT_TRUE(cache.store(keys[3], payload));
    EXPECT_TRUE(cache.load(keys[0]));
    EXPECT_FALSE(cache.load(keys[1]));
    EXPECT_TRUE(cache.load(keys[2]));
    EXPECT_TRUE(cache.load(keys[3]));

    EXPECT_FALSE(cache.store(IndexCache::Key{.inode = 5}, QByteArray(3 * entrySize, 'y')));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    EXPECT_TRUE(QFile::exists(other));
}

TEST(IndexCache, LivesInTheUsersCacheFolder)
{
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CACHE_HOME");
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    const struct {
        QByteArray set;
        QString folder;
    } cases[] = {
        {"/var/tmp/somewhere", QStringLiteral("/var/tmp/somewhere/kurimo/index")},
        {"relative/is/ignored", QDir::homePath() + QStringLiteral("/.cache/kurimo/index")},
        {"", QDir::homePath() + QStringLiteral("/.cache/kurimo/index")},
    };
    for (const auto &c : cases) {
        qputenv("XDG_CACHE_HOME", c.set);
        EXPECT_EQ(IndexCache::standardFolder(), c.folder) << c.set.constData();
    }
    if (wasSet)
        qputenv("XDG_CACHE_HOME", saved);
    else
        qunsetenv("XDG_CACHE_HOME");
}

// What this process has read from files so far.
qint64 bytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// A recording without cues opened again from its entry: the demuxer knows the keyframes the
// first open's scan taught it, so a seek to the end reads about a cluster, not every cluster
// up to there (seconds, for a recording of hours).
TEST(IndexCache, AMatroskaFileWithoutCuesOpenedAgainSeeksWithoutReadingUpToThere)
{
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("index-cache-mkv-no-cues"),
        {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25", "-frames:v", "750", "-c:v", "libx264",
            "-preset", "ultrafast", "-qp", "0", "-g", "25", "-f", "matroska", "-live", "1",
            "-cluster_time_limit", "1000"},
        &error);
    if (path.isEmpty())
        GTEST_SKIP() << "could not make the file: " << error.toStdString();
    QTemporaryDir dir;
    const QString cache = dir.filePath(QStringLiteral("kurimo"));
    ASSERT_EQ(framesOpened(path, cache), 750);
    ASSERT_TRUE(IndexCache(cache).load(keyOf(path)));
    video::DecodeOptions options;
    options.indexCache = cache;
    video::OpenError why;
    const auto file = video::MediaFile::open(path, &why, 0, nullptr, nullptr, options);
    ASSERT_TRUE(file);
    int last = -1;
    for (int i = 0; i < file->index().packetCount(); ++i) {
        if (file->index().packet(i).keyframe)
            last = i;
    }
    ASSERT_GT(last, file->index().packetCount() / 2);
    const qint64 before = bytesRead();
    ASSERT_GE(before, 0);
    ASSERT_TRUE(file->seekToPacket(last));
    auto packet = video::ff::makePacket();
    int read = -1;
    ASSERT_TRUE(file->readVideoPacket(packet.get(), &read));
    EXPECT_EQ(read, last);
    EXPECT_LT(bytesRead() - before, QFileInfo(path).size() / 4);
}

// The exactness table's files are short; an index as long as a recording's works out its
// pictures' times beside its packets as it comes back, and must come back as the scan left it.
TEST(IndexCache, ALongIndexComesBackAsTheScanLeftIt)
{
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("index-cache-long"),
        {"-f", "lavfi", "-i", "testsrc2=s=32x32:r=100", "-frames:v", "21000", "-c:v", "libx264",
            "-preset", "ultrafast", "-g", "100", "-bf", "2", "-f", "matroska", "-live", "1"},
        &error);
    if (path.isEmpty())
        GTEST_SKIP() << "could not make the file: " << error.toStdString();
    QTemporaryDir dir;
    video::DecodeOptions options;
    options.indexCache = dir.filePath(QStringLiteral("kurimo"));
    video::OpenError why;
    const auto scanned = video::MediaFile::open(path, &why, 0, nullptr, nullptr, options);
    ASSERT_TRUE(scanned);
    ASSERT_GE(scanned->info().pictureMs.size(), video::TimestampIndex::kTimesAside);
    const qint64 before = bytesRead();
    const auto restored = video::MediaFile::open(path, &why, 0, nullptr, nullptr, options);
    ASSERT_TRUE(restored);
    // Not scanned again: the entry and the file's header, not its clusters.
    EXPECT_LT(bytesRead() - before, QFileInfo(path).size() / 2);
    EXPECT_EQ(indexes::difference(restored->info(), restored->index(), scanned->info(),
                  scanned->index()),
        "");
}

} // namespace
