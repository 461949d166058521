// A scan of a long file has the kernel read a stretch ahead of it, no further, and lets go at
// once when the scan ends or stops early.

#include "platform/video/decode/ReadAhead.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <chrono>
#include <thread>

namespace {

// Whether the page at `offset` of the mapped file is in the page cache.
bool resident(const void *map, int64_t offset)
{
    unsigned char in = 0;
    const long page = sysconf(_SC_PAGESIZE);
    mincore(static_cast<char *>(const_cast<void *>(map)) + offset / page * page, size_t(page), &in);
    return in & 1;
}

TEST(ReadAhead, ReadsAStretchAheadOfTheScanAndNoFurther)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long"));
    constexpr int64_t kSize = 512ll << 20; // sparse: nothing is written, nothing is cached
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(kSize));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const uchar *map = file.map(0, kSize);
    ASSERT_NE(map, nullptr);
    ASSERT_FALSE(resident(map, 0));

    const auto start = std::chrono::steady_clock::now();
    {
        video::ReadAhead ahead(QFile::encodeName(path), kSize);
        ahead.at(40ll << 20);
        bool reached = false;
        for (int i = 0; i < 400 && !reached; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            reached = resident(map, 120ll << 20);
        }
        EXPECT_TRUE(reached);
        // Holes read in at memory speed: a thread that did not hold back would be far on.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(resident(map, 300ll << 20));
    }
    // Gone with the scan, long before the rest of the file could have been read.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(resident(map, kSize - 4096));
}

} // namespace
