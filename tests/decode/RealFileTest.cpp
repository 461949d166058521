// Files written by other programs, where the folders of them are at hand: AVIs from capture
// tools, vision libraries, old encoders and unfinished recordings; MP4, MOV, MKV, WebM and
// transport streams from phones, cameras, screen recorders and packagers; camcorder and
// broadcast files (field-coded pictures, cuts in the middle of a GOP, repeated timestamps,
// open GOPs, raw streams). Each opens with its length or is refused with a message, and each
// position shows the same picture whatever was visited before: for the broadcast files, the
// one a plain sequential decode shows there.

#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "tests/decode/ReferenceDecode.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace {

QString mediaDir()
{
    const QByteArray fromEnv = qgetenv("KURIMO_REAL_MEDIA");
    return QString::fromLocal8Bit(fromEnv.isEmpty() ? KURIMO_REAL_MEDIA_DIR : fromEnv.constData());
}

constexpr char kBroadcast[] = "real-broadcast";

// "folder/file", for every file of the folders.
std::vector<std::string> realFiles()
{
    std::vector<std::string> names;
    for (const char *folder : {"real-avi", "real-containers", kBroadcast}) {
        const QStringList found = QDir(mediaDir() + QLatin1Char('/') + folder)
                                      .entryList(QDir::Files, QDir::Name);
        for (const QString &name : found) {
            if (name != QLatin1String("SOURCES.txt"))
                names.push_back(std::string(folder) + "/" + name.toStdString());
        }
    }
    return names;
}

// What ffmpeg's sequential decode gave for a container file: its picture count, 0 for one
// that must be refused; -1 when there is no record of it.
int referenceCount(const QString &path)
{
    const QFileInfo file(path);
    QFile json(file.dir().filePath(QStringLiteral("ref/") + file.fileName() +
        QStringLiteral(".json")));
    if (!json.open(QIODevice::ReadOnly))
        return -1;
    const QJsonObject ref = QJsonDocument::fromJson(json.readAll()).object();
    return ref.value(QStringLiteral("decodable")).toBool()
        ? ref.value(QStringLiteral("count")).toInt(-1)
        : 0;
}

// Lengths that once came out wrong: null frames at the end, recordings never finished (the
// second one's last chunk is cut off, so it has one whole chunk fewer than ffmpeg decodes).
const std::map<std::string, int> kKnownLengths = {
    {"real-avi/qokelate__xtom3d__logo.avi", 120},
    {"real-avi/tkasarla__camera-120fps__capture.avi", 1323},
    {"real-avi/paul-romeo__opencv-for-python__output.avi", 194},
    {"real-avi/gabriel-vasile__mimetype__testdata_a.avi", 600},
    {"real-avi/rvjc__free-bounce__demo.avi", 325},
    // Two I-frame pictures, of which ffmpeg's decoder gives up on the second.
    {"real-containers/google__ExoPlayer__testdata_src_test_assets_media_ts_sample_iframe.ts", 2},
    // Its only keyframe near the end: the damaged pictures before it that come out depend
    // on the decoder's threads (ffmpeg: 8 with its default, 1 with one thread).
    {"real-broadcast/tsduck__tsduck-test__input_test-026.ts", 5},
};

QByteArray digest(const QImage &image)
{
    if (image.isNull())
        return "null";
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(QByteArrayView(image.constScanLine(y), image.width() * 4));
    return hash.result();
}

class RealFile : public ::testing::TestWithParam<std::string> {};

TEST_P(RealFile, OpensWithItsLengthAndShowsTheSamePictureInAnyOrder)
{
    const QString path = mediaDir() + QLatin1Char('/') + QString::fromStdString(GetParam());
    // The first open keeps its index where it scanned the whole file; the visits reopen with it.
    const QTemporaryDir cache;
    video::DecodeOptions options;
    options.indexCache = cache.filePath(QStringLiteral("kurimo"));
    auto open = [&](QString *message) { return video::openFrameSource(path, message, options); };
    QString message;
    auto first = open(&message);
    const auto known = kKnownLengths.find(GetParam());
    const int expected = known != kKnownLengths.end() ? known->second : referenceCount(path);
    if (!first) {
        EXPECT_FALSE(message.isEmpty());
        EXPECT_TRUE(expected <= 0) << "refused: " << message.toStdString();
        return;
    }
    const int length = first->info().frameCount;
    ASSERT_GT(length, 0);
    if (expected >= 0) {
        EXPECT_EQ(length, expected);
    }

    // The ends, the first keyframes and their neighbours, a few at random.
    std::set<int> spread{0, 1, length - 1, length};
    int keys = 0;
    for (int p = 1; p < length && keys < 4; ++p) {
        if (first->isKeyframe(p) && !first->isKeyframe(p - 1)) {
            ++keys;
            for (int d = -2; d <= 1; ++d)
                spread.insert(std::clamp(p + d, 0, length));
        }
    }
    std::mt19937 random(5);
    for (int i = 0; i < 4; ++i)
        spread.insert(int(random() % unsigned(length)));
    std::map<int, QByteArray> seen;
    for (int p : spread) // ascending
        seen[p] = digest(first->frameAt(p));
    if (GetParam().starts_with(kBroadcast) && known == kKnownLengths.end()) {
        const std::vector<QImage> frames = referenceDecode(path).framesByPosition;
        ASSERT_EQ(int(frames.size()), length);
        for (int p : spread) {
            EXPECT_EQ(seen[p], digest(frames[size_t(std::min(p, length - 1))]))
                << "a sequential decode's picture at " << p;
        }
    }
    std::vector<int> shuffled(spread.begin(), spread.end());
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    const std::vector<int> descending(spread.rbegin(), spread.rend());
    for (const auto &[how, order] : {std::pair{"descending", descending}, {"shuffled", shuffled}}) {
        auto source = open(&message);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->info().frameCount, length);
        for (int p : order)
            EXPECT_EQ(digest(source->frameAt(p)), seen[p]) << how << " visit, position " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RealFile, ::testing::ValuesIn(realFiles()),
    [](const ::testing::TestParamInfo<std::string> &info) {
        std::string name = info.param.substr(info.param.find('/') + 1);
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(uchar(c)); }, '_');
        return name + "_" + std::to_string(info.index);
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealFile);

} // namespace
