// AVI files written by other programs (capture tools, vision libraries, old encoders,
// unfinished recordings), where the folder of them is at hand: each opens or is refused
// with a message, and each position shows the same picture whatever was visited before.

#include "platform/avi/FrameSource.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace {

QString mediaDir()
{
    const QByteArray fromEnv = qgetenv("KURIMO_REAL_MEDIA");
    return QString::fromLocal8Bit(fromEnv.isEmpty() ? KURIMO_REAL_MEDIA_DIR : fromEnv.constData()) +
        QStringLiteral("/real-avi");
}

std::vector<std::string> realFiles()
{
    std::vector<std::string> names;
    const QStringList found = QDir(mediaDir()).entryList(
        {QStringLiteral("*.avi"), QStringLiteral("*.AVI")}, QDir::Files, QDir::Name);
    for (const QString &name : found)
        names.push_back(name.toStdString());
    return names;
}

// Lengths that once came out wrong: null frames at the end, recordings never finished (the
// second one's last chunk is cut off, so it has one whole chunk fewer than ffmpeg decodes).
const std::map<std::string, int> kKnownLengths = {
    {"qokelate__xtom3d__logo.avi", 120},
    {"tkasarla__camera-120fps__capture.avi", 1323},
    {"paul-romeo__opencv-for-python__output.avi", 194},
    {"gabriel-vasile__mimetype__testdata_a.avi", 600},
    {"rvjc__free-bounce__demo.avi", 325},
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

class RealAvi : public ::testing::TestWithParam<std::string> {};

TEST_P(RealAvi, OpensWithItsLengthAndShowsTheSamePictureInAnyOrder)
{
    const QString path = mediaDir() + QLatin1Char('/') + QString::fromStdString(GetParam());
    auto open = [&](QString *message) { return avi::openFrameSource(path, message); };
    QString message;
    auto first = open(&message);
    const auto known = kKnownLengths.find(GetParam());
    if (!first) {
        EXPECT_FALSE(message.isEmpty());
        EXPECT_EQ(known, kKnownLengths.end()) << message.toStdString();
        return;
    }
    const int length = first->info().frameCount;
    ASSERT_GT(length, 0);
    if (known != kKnownLengths.end()) {
        EXPECT_EQ(length, known->second);
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
    const std::vector<int> ascending(spread.begin(), spread.end());
    std::vector<int> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    const std::vector<int> descending(ascending.rbegin(), ascending.rend());

    std::map<int, QByteArray> seen;
    for (int p : ascending)
        seen[p] = digest(first->frameAt(p));
    for (const std::vector<int> *order : {&descending, static_cast<const std::vector<int> *>(&shuffled)}) {
        auto source = open(&message);
        ASSERT_TRUE(source);
        for (int p : *order) {
            EXPECT_EQ(digest(source->frameAt(p)), seen[p])
                << (order == &descending ? "descending" : "shuffled") << " visit, position " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RealAvi, ::testing::ValuesIn(realFiles()),
    [](const ::testing::TestParamInfo<std::string> &info) {
        std::string name = info.param.substr(0, info.param.size() - 4);
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(uchar(c)); }, '_');
        return name + "_" + std::to_string(info.index);
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealAvi);

} // namespace
