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

// Unquoted paths with blanks reach their device; the longest open name wins, whatever the
// open order, but only before a blank or the end; keywords and quotes inside names and
// Japanese names are names; case matters in names, not in verbs.
TEST(DeviceNames, OpenNamesAreMatchedLongestFirst)
{
    check({QStringLiteral("/tmp/my videos/a.avi")},
          {{"play /tmp/my videos/a.avi from 0 to 10", "/tmp/my videos/a.avi", 0},
           {"play /tmp/my videos/a.avi", "/tmp/my videos/a.avi"},
           {"play /tmp/my videos/a.avi\tfrom 4", "/tmp/my videos/a.avi", 4},
           {"play \"/tmp/my videos/a.avi\" from 3", "/tmp/my videos/a.avi", 3}});
    for (const QStringList &open : {QStringList{"/v/a", "/v/a b", "/v/a.avi"},
                                    QStringList{"/v/a b", "/v/a"}})
        check(open, {{"play /v/a b from 1", "/v/a b", 1},
                     {"play /v/a from 2", "/v/a", 2},
                     {"stop /v/a", "/v/a"},
                     {"play /v/ab from 5", "/v/ab", 5}});
    check({QStringLiteral("/ビデオ/猫 の 動画.avi"), QStringLiteral("/v/from here.avi"),
           QStringLiteral("/v/\"odd\".avi"), QStringLiteral("/V/A")},
          {{"play /ビデオ/猫 の 動画.avi from 9", "/ビデオ/猫 の 動画.avi", 9},
           {"status /ビデオ/猫 の 動画.avi length", "/ビデオ/猫 の 動画.avi"},
           {"play /v/from here.avi from 1", "/v/from here.avi", 1},
           {"play /v/\"odd\".avi from 2", "/v/\"odd\".avi", 2},
           {"PLAY /V/A FROM 1", "/V/A", 1},
           {"play /v/a", "/v/a"}});
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
