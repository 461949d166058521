#include "media/Catalogue.h"

#include <gtest/gtest.h>

namespace {

// A path with blanks and Japanese characters goes in as it stands, unquoted.
const QString kPath = QStringLiteral("/home/ユーザー/my videos/テスト 1.avi");

TEST(Catalogue, EveryRowToTheCharacter)
{
    const QString p = kPath;
    EXPECT_EQ(Catalogue::playRange(p, 0, 250), "play " + p + " from 0 to 250");
    EXPECT_EQ(Catalogue::playRangeRepeat(p, 10, 250), "play " + p + " from 10 to 250 repeat");
    EXPECT_EQ(Catalogue::playResume(p), "play " + p);
    EXPECT_EQ(Catalogue::playReverseRange(p, 250, 0), "play " + p + " from 250 to 0 reverse");
    EXPECT_EQ(Catalogue::playReverseRangeRepeat(p, 250, 3),
              "play " + p + " from 250 to 3 reverse repeat");
    EXPECT_EQ(Catalogue::playReverseResume(p), "play " + p + " reverse");
    EXPECT_EQ(Catalogue::pause(p), "pause " + p);
    EXPECT_EQ(Catalogue::stop(p), "stop " + p);
    EXPECT_EQ(Catalogue::playToZero(p), "play " + p + " to 0");
    EXPECT_EQ(Catalogue::putWindow(p, 352, 254, 320, QStringLiteral("260")),
              "put " + p + " window at 352 254 320 260");
    EXPECT_EQ(Catalogue::audioAllOff(p), "set " + p + " audio all off");
    EXPECT_EQ(Catalogue::audioAll(p, QStringLiteral("on")), "set " + p + " audio all on");
    EXPECT_EQ(Catalogue::audioAll(p, QStringLiteral("off")), "set " + p + " audio all off");
    EXPECT_EQ(Catalogue::speed(p, 1000), "set " + p + " speed 1000");
    EXPECT_EQ(Catalogue::timeFormatMs(p), "set " + p + " time format ms");
    EXPECT_EQ(Catalogue::timeFormatFrames(p), "set " + p + " time format frames");
    EXPECT_EQ(Catalogue::update(p, 320, QStringLiteral("260"), 7),
              "update " + p + " at 0 0 320 260 hdc 7");
    EXPECT_EQ(Catalogue::whereSource(p), "where " + p + " source");
}

TEST(Catalogue, NumbersArePlainDecimal)
{
    EXPECT_EQ(Catalogue::putWindow(QStringLiteral("a.avi"), -128, -106, 1280,
                                   QStringLiteral("980")),
              QStringLiteral("put a.avi window at -128 -106 1280 980"));
    EXPECT_EQ(Catalogue::plainDecimal(0), QStringLiteral("0"));
    EXPECT_EQ(Catalogue::plainDecimal(-1), QStringLiteral("-1"));
    EXPECT_EQ(Catalogue::plainDecimal(2147483647), QStringLiteral("2147483647"));
    EXPECT_EQ(Catalogue::plainDecimal(1234567), QStringLiteral("1234567"));
    EXPECT_EQ(Catalogue::update(QStringLiteral("a.avi"), 384, QStringLiteral("308"), 4294967295u),
              QStringLiteral("update a.avi at 0 0 384 308 hdc 4294967295"));
}

} // namespace
