#include "platform/mci/Parser.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *text;
    const char *device; // the device the command addresses
    std::optional<qint32> from = std::nullopt;
};

// Device names are matched against the open devices, not cut at blanks.
void check(const QStringList &open, const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const mci::ParseResult parsed = mci::parseCommand(QString::fromUtf8(c.text), open);
        ASSERT_TRUE(parsed.command) << qPrintable(parsed.error);
        EXPECT_EQ(parsed.command->device, QString::fromUtf8(c.device));
        if (c.from) {
            const auto *play = std::get_if<mci::PlayAction>(&parsed.command->action);
            ASSERT_TRUE(play);
            EXPECT_EQ(play->request.from, c.from);
        }
    }
}

TEST(DeviceNames, UnquotedPathWithBlanksReachesItsDevice)
{
    check({QStringLiteral("/tmp/my videos/a.avi")},
          {
              {"play /tmp/my videos/a.avi from 0 to 10", "/tmp/my videos/a.avi", 0},
              {"play /tmp/my videos/a.avi", "/tmp/my videos/a.avi"},
              {"play /tmp/my videos/a.avi\tfrom 4", "/tmp/my videos/a.avi", 4},
              {"play \"/tmp/my videos/a.avi\" from 3", "/tmp/my videos/a.avi", 3},
          });
}

TEST(DeviceNames, LongestOpenNameWins)
{
    check({QStringLiteral("/v/a"), QStringLiteral("/v/a b"), QStringLiteral("/v/a.avi")},
          {
              {"play /v/a b from 1", "/v/a b", 1},
              {"play /v/a from 2", "/v/a", 2},
              {"play /v/a.avi from 3", "/v/a.avi", 3},
              {"stop /v/a", "/v/a"},
          });
    // Open order must not matter.
    check({QStringLiteral("/v/a b"), QStringLiteral("/v/a")},
          {{"play /v/a b from 1", "/v/a b", 1}, {"play /v/a from 2", "/v/a", 2}});
}

TEST(DeviceNames, NamePrefixMatchesOnlyBeforeBlankOrEnd)
{
    // "/v/ab" is not "/v/a" followed by "b": it is a device that is not open.
    check({QStringLiteral("/v/a")}, {{"stop /v/ab", "/v/ab"}, {"play /v/ab from 5", "/v/ab", 5}});
}

TEST(DeviceNames, JapaneseKeywordsAndQuotesInsideNames)
{
    check({QStringLiteral("/ビデオ/猫 の 動画.avi"), QStringLiteral("/v/from here.avi"),
           QStringLiteral("/v/\"odd\".avi")},
          {
              {"play /ビデオ/猫 の 動画.avi from 9", "/ビデオ/猫 の 動画.avi", 9},
              {"status /ビデオ/猫 の 動画.avi length", "/ビデオ/猫 の 動画.avi"},
              {"play /v/from here.avi from 1", "/v/from here.avi", 1},
              {"play /v/\"odd\".avi from 2", "/v/\"odd\".avi", 2},
          });
}

TEST(DeviceNames, CaseMattersInNamesNotInVerbs)
{
    check({QStringLiteral("/V/A")}, {{"PLAY /V/A FROM 1", "/V/A", 1}, {"play /v/a", "/v/a"}});
}

TEST(DeviceNames, UnknownNameIsCutBeforeTheVerbsKeywords)
{
    // Nothing open: the name the error will show stops where the verb's clauses begin.
    check({},
          {
              {"play /tmp/my videos/a.avi from 0 to 10", "/tmp/my videos/a.avi", 0},
              {"play /tmp/x.avi wait", "/tmp/x.avi"},
              {"status /tmp/x y.avi frame rate", "/tmp/x y.avi"},
          });
}

} // namespace
