// A file whose index must be built from its packets opens on a thread of its own: the caller's
// event loop runs meanwhile, and what it gets back is the whole index. The decode layer runs
// no event loop; the device's opening does the waiting.

#include "ReferenceDecode.h"
#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "tests/support/ClipCorpus.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

struct Container {
    const char *name;
    const char *format;
    QStringList extra;
};

const Container kContainers[] = {
    {"mkv-no-cues", "matroska", {"-live", "1"}},
    {"ts", "mpegts", {}},
};

class OpenWhileIndexing : public ::testing::TestWithParam<Container> {};

TEST_P(OpenWhileIndexing, CallerKeepsRunningAndGetsTheWholeIndex)
{
    const Container &c = GetParam();
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("indexing-") + c.name,
        QStringList{"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25", "-frames:v", "60", "-c:v",
            "libx264", "-bf", "3", "-g", "25", "-preset", "veryfast"} +
            c.extra + QStringList{"-f", c.format},
        &error);
    if (path.isEmpty())
        GTEST_SKIP() << "could not make the file: " << error.toStdString();

    // Hold the opening thread once its index is built until the caller has run a posted
    // event: only an event loop running on the caller gets there.
    auto callerRan = std::make_shared<std::atomic<bool>>(false);
    const video::OpenHold savedHold = video::openHold();
    video::openHold().holdMs = 0;
    video::DecodeOptions options;
    options.afterIndex = [callerRan] {
        QMetaObject::invokeMethod(
            qApp, [callerRan] { callerRan->store(true); }, Qt::QueuedConnection);
        for (int i = 0; i < 500 && !callerRan->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    video::OpenError why;
    auto source = video::openKeepingEventsAlive(path, &why, options);
    video::openHold() = savedHold;
    ASSERT_TRUE(source) << int(why.why);
    EXPECT_TRUE(callerRan->load());

    const ReferenceDecode reference = referenceDecode(path);
    ASSERT_EQ(int(reference.framesByPosition.size()), 60);
    EXPECT_EQ(source->info().frameCount, 60);
    for (const int p : {59, 0, 31})
        EXPECT_EQ(source->frameAt(p), reference.framesByPosition[size_t(p)]) << p;
}

INSTANTIATE_TEST_SUITE_P(Containers, OpenWhileIndexing, ::testing::ValuesIn(kContainers),
    [](const auto &info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

} // namespace
