#include "platform/mci/Parser.h"

#include <gtest/gtest.h>

namespace {

QString number(const std::optional<qint32> &value)
{
    return value ? QString::number(*value) : QStringLiteral("-");
}

QString rect(const mci::Rect &r)
{
    return QStringLiteral("%1,%2,%3,%4").arg(r.left).arg(r.top).arg(r.width).arg(r.height);
}

// One line per typed command, so a table can say what each text must become.
QString describe(const mci::Command &c)
{
    using namespace mci;
    using S = QString;
    const QString what = std::visit(
        Overloaded{
            [](const OpenAction &a) {
                return S("open path=%1 type=%2 alias=%3").arg(a.path, a.type, a.alias);
            },
            [](const CloseAction &) { return S("close"); },
            [](const PlayAction &a) {
                return S("play from=%1 to=%2%3%4").arg(number(a.request.from), number(a.request.to),
                    a.request.reverse ? S(" reverse") : S(), a.request.repeat ? S(" repeat") : S());
            },
            [](const PauseAction &) { return S("pause"); },
            [](const StopAction &) { return S("stop"); },
            [](const SeekAction &a) {
                const SeekRequest::Kind kind = a.request.kind;
                return kind == SeekRequest::Kind::Start ? S("seek start")
                    : kind == SeekRequest::Kind::End    ? S("seek end")
                                                        : S("seek %1").arg(a.request.position);
            },
            [](const StatusAction &a) { return S("status %1").arg(int(a.item)); },
            [](const SetTimeFormatAction &a) {
                return a.format == TimeFormat::Frames ? S("format frames") : S("format ms");
            },
            [](const SetSpeedAction &a) { return S("speed %1").arg(a.speed); },
            [](const SetAudioAction &a) { return S("audio %1").arg(a.on); },
            [](const WhereSourceAction &) { return S("where source"); },
            [](const PutWindowAction &a) { return S("put ") + rect(a.rect); },
            [](const UpdateAction &a) {
                return S("update %1 hdc %2").arg(rect(a.rect)).arg(a.surface);
            },
            [](const CaptureAction &a) { return S("capture ") + a.path; },
            [](const CanPlayAction &) { return S("can play"); },
        },
        c.action);
    const QString target = c.all ? S("<all>") : '<' + c.device + '>';
    return what + ' ' + target + (c.wait ? S(" wait") : S());
}

struct Case {
    const char *text;
    const char *expected; // what describe() gives, or the error message
};

void check(const std::vector<Case> &cases, const QStringList &openDevices, bool expectOk)
{
    for (const Case &c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const mci::ParseResult parsed = mci::parseCommand(text, openDevices);
        SCOPED_TRACE(c.text);
        ASSERT_EQ(parsed.command.has_value(), expectOk) << qPrintable(parsed.error);
        const QString got = expectOk ? describe(*parsed.command) : parsed.error;
        EXPECT_EQ(got, QString::fromUtf8(c.expected));
    }
}

const QStringList kOpen{QStringLiteral("/a")};

TEST(Parser, EveryVerbGivesItsTypedCommand)
{
    check({
              {"open /v/a.avi", "open path=/v/a.avi type=avivideo alias= <>"},
              {"OPEN /v/a.avi Type AVIVideo", "open path=/v/a.avi type=avivideo alias= <>"},
              {"open /v/my videos/a.avi type recording alias v",
               "open path=/v/my videos/a.avi type=recording alias=v <>"},
              {"open /v/my videos/a.avi alias v type recording",
               "open path=/v/my videos/a.avi type=recording alias=v <>"},
              {"open \"/v/a type b.avi\" type recording",
               "open path=/v/a type b.avi type=recording alias= <>"},
              {"open /v/a.avi alias \"my video\"",
               "open path=/v/a.avi type=avivideo alias=my video <>"},
              {"open   /v/x  y.avi   ", "open path=/v/x  y.avi type=avivideo alias= <>"},
              {"open /v/typewriter.avi", "open path=/v/typewriter.avi type=avivideo alias= <>"},
              {"open /v/a.avi wait", "open path=/v/a.avi type=avivideo alias= <> wait"},
              {"open /v/wait here.avi", "open path=/v/wait here.avi type=avivideo alias= <>"},
              {"open /v/a.avi color red", "open path=/v/a.avi color red type=avivideo alias= <>"},
              {"open C:\\v\\Case.AVI", "open path=C:\\v\\Case.AVI type=avivideo alias= <>"},
              {"close all", "close <all>"},
              {"close ALL wait", "close <all> wait"},
              {"close /a", "close </a>"},
              {"play /a", "play from=- to=- </a>"},
              {"play /a from 0 to 10", "play from=0 to=10 </a>"},
              {"play /a to 10 from 0", "play from=0 to=10 </a>"},
              {"play /a from 10 to 0 reverse repeat", "play from=10 to=0 reverse repeat </a>"},
              {"PLAY /a REPEAT Reverse", "play from=- to=- reverse repeat </a>"},
              {"play /a to 0", "play from=- to=0 </a>"},
              {"play /a from -2147483648 to 2147483647",
               "play from=-2147483648 to=2147483647 </a>"},
              {"play /a from 007", "play from=7 to=- </a>"},
              {"play /a from 0 to 10 wait", "play from=0 to=10 </a> wait"},
              {"play /a wait from 3", "play from=3 to=- </a> wait"},
              {"play\t/a\tfrom\t1", "play from=1 to=- </a>"},
              {"pause /a", "pause </a>"},
              {"stop /a wait", "stop </a> wait"},
              {"seek /a to 5", "seek 5 </a>"},
              {"seek /a to -1", "seek -1 </a>"},
              {"seek /a to start", "seek start </a>"},
              {"seek /a to END wait", "seek end </a> wait"},
              {"status /a length", "status 0 </a>"},
              {"status /a position", "status 1 </a>"},
              {"status /a mode", "status 2 </a>"},
              {"status /a frame rate", "status 3 </a>"},
              {"status /a speed", "status 4 </a>"},
              {"status /a time format", "status 5 </a>"},
              {"status /a audio", "status 6 </a>"},
              {"status /a frames skipped", "status 7 </a>"},
              {"set /a time format ms", "format ms </a>"},
              {"set /a time format milliseconds", "format ms </a>"},
              {"set /a TIME FORMAT FRAMES", "format frames </a>"},
              {"set /a speed 1000", "speed 1000 </a>"},
              {"set /a audio all on", "audio 1 </a>"},
              {"set /a audio all OFF", "audio 0 </a>"},
              {"where /a source", "where source </a>"},
              {"put /a window at 352 254 320 260", "put 352,254,320,260 </a>"},
              {"put /a window at -10 -20 320 260", "put -10,-20,320,260 </a>"},
              {"update /a at 0 0 320 260 hdc 7", "update 0,0,320,260 hdc 7 </a>"},
              {"update /a hdc 7 at 0 0 1 1", "update 0,0,1,1 hdc 7 </a>"},
              {"capture /a as /tmp/my shots/x.bmp", "capture /tmp/my shots/x.bmp </a>"},
              {"capture /a as \"/tmp/q wait.bmp\" wait", "capture /tmp/q wait.bmp </a> wait"},
              {"capture /a as /tmp/x.bmp WAIT", "capture /tmp/x.bmp </a> wait"},
              {"capability /a can play", "can play </a>"},
          },
          kOpen, true);
}

TEST(Parser, BadTextIsAnErrorNamingTheToken)
{
    check({
              {"", "コマンドがありません"},
              {"  \t  ", "コマンドがありません"},
              {"xyz", "コマンドが分かりません: xyz"},
              {"\"play\" /a", "コマンドが分かりません: play"},
              {"\"", "引用符が閉じていません: \""},
              {"play", "デバイス名がありません: play"},
              {"close   ", "デバイス名がありません: close"},
              {"open", "ファイル名がありません: open"},
              {"open \"\"", "ファイル名がありません: open"},
              {"open \"/a.avi", "引用符が閉じていません: \"/a.avi"},
              {"open \"/a\".avi", "引用符の使い方が正しくありません: \"/a\".avi"},
              {"open /v/a.avi type", "値がありません: type"},
              {"play /a from", "値がありません: from"},
              {"play /a from x", "数値が正しくありません: x"},
              {"play /a from 2147483648", "数値が正しくありません: 2147483648"},
              {"play /a from -2147483649", "数値が正しくありません: -2147483649"},
              {"play /a from 1.5", "数値が正しくありません: 1.5"},
              {"play /a from +1", "数値が正しくありません: +1"},
              {"play /a from -", "数値が正しくありません: -"},
              {"play /a from \"5\"", "数値が正しくありません: 5"},
              {"play /a from 1 from 2", "二度指定されています: from"},
              {"play /a wait wait", "二度指定されています: wait"},
              {"play /a backwards", "語が分かりません: backwards"},
              {"play /a \"from\" 1", "語が分かりません: from"},
              {"play /a from 0 \"to", "引用符が閉じていません: \"to"},
              {"play /a \"x\"y", "引用符の使い方が正しくありません: \"x\"y"},
              {"play /a x\"y", "引用符の使い方が正しくありません: x\"y"},
              {"seek /a", "指定が足りません: seek"},
              {"seek /a wait", "指定が足りません: seek"},
              {"seek /a to", "値がありません: to"},
              {"seek /a to middle", "語が分かりません: middle"},
              {"seek /a to 12x", "数値が正しくありません: 12x"},
              {"status /a", "指定が足りません: status"},
              {"status /a length position", "同時には指定できません: position"},
              {"status /a frame", "値がありません: frame rate"},
              {"status /a frame speed", "語が分かりません: speed"},
              {"status /a volume", "語が分かりません: volume"},
              {"set /a", "指定が足りません: set"},
              {"set /a time format seconds", "語が分かりません: seconds"},
              {"set /a speed fast", "数値が正しくありません: fast"},
              {"set /a speed 1 audio all on", "同時には指定できません: audio all"},
              {"set /a audio all maybe", "語が分かりません: maybe"},
              {"set /a audio on", "語が分かりません: on"},
              {"where /a", "指定が足りません: where"},
              {"put /a window at 1 2 3", "値がありません: window at"},
              {"put /a window 1 2 3 4", "語が分かりません: 1"},
              {"update /a at 0 0 1 1", "指定が足りません: update"},
              {"update /a hdc x at 0 0 1 1", "数値が正しくありません: x"},
              {"capture /a as", "値がありません: as"},
              {"capture /a as \"/tmp/x.bmp", "引用符が閉じていません: \"/tmp/x.bmp"},
              {"capability /a can", "値がありません: can play"},
              {"capability /a can stop", "語が分かりません: stop"},
              {"close all now", "語が分かりません: now"},
          },
          kOpen, false);
}

// Device names are matched against the open devices, not cut at blanks: the longest open
// name wins, whatever the open order, but only before a blank or the end; keywords and quotes
// inside names and Japanese names are names; case matters in names, not in verbs. With
// nothing open, the name the error will show stops where the verb's clauses begin.
TEST(Parser, OpenNamesAreMatchedLongestFirst)
{
    check({{"play /tmp/my videos/a.avi\tfrom 4", "play from=4 to=- </tmp/my videos/a.avi>"},
           {"play \"/tmp/my videos/a.avi\" from 3", "play from=3 to=- </tmp/my videos/a.avi>"}},
          {QStringLiteral("/tmp/my videos/a.avi")}, true);
    for (const QStringList &open : {QStringList{"/v/a", "/v/a b", "/v/a.avi"},
                                    QStringList{"/v/a b", "/v/a"}})
        check({{"play /v/a b from 1", "play from=1 to=- </v/a b>"},
               {"play /v/a from 2", "play from=2 to=- </v/a>"},
               {"stop /v/a", "stop </v/a>"},
               {"play /v/ab from 5", "play from=5 to=- </v/ab>"}},
              open, true);
    check({{"play /ビデオ/猫 の 動画.avi from 9", "play from=9 to=- </ビデオ/猫 の 動画.avi>"},
           {"status /ビデオ/猫 の 動画.avi length", "status 0 </ビデオ/猫 の 動画.avi>"},
           {"play /v/from here.avi from 1", "play from=1 to=- </v/from here.avi>"},
           {"play /v/\"odd\".avi from 2", "play from=2 to=- </v/\"odd\".avi>"},
           {"PLAY /V/A FROM 1", "play from=1 to=- </V/A>"},
           {"play /v/a", "play from=- to=- </v/a>"}},
          {QStringLiteral("/ビデオ/猫 の 動画.avi"), QStringLiteral("/v/from here.avi"),
           QStringLiteral("/v/\"odd\".avi"), QStringLiteral("/V/A")},
          true);
    check({{"play /tmp/my videos/a.avi from 0 to 10", "play from=0 to=10 </tmp/my videos/a.avi>"},
           {"play /tmp/x.avi wait", "play from=- to=- </tmp/x.avi> wait"},
           {"status /tmp/x y.avi frame rate", "status 3 </tmp/x y.avi>"}},
          {}, true);
}

constexpr qsizetype kLimit = 65536;
const QString kTooLong = QStringLiteral("コマンドが長すぎます（65536文字まで）");

// Lines of "wait" words and blanks up to the limit parse whole: every word but the last is the
// path, the last is the flag. The blanks are half the line so that a parser that looks past
// each "wait" to the end of the line would take time in the square of its length. One
// character more and the line is refused before a word is read.
TEST(Parser, LinesUpToTheLimitParseWholeLongerOnesAreRefused)
{
    for (const QString &head : {QStringLiteral("open"), QStringLiteral("capture /a as")}) {
        QString line = head;
        while (line.size() + 5 <= kLimit / 2)
            line += QStringLiteral(" wait");
        const QString path = line.mid(head.size() + 1, line.size() - head.size() - 6);
        line += QString(kLimit - line.size(), QLatin1Char(' '));
        SCOPED_TRACE(qPrintable(head));
        mci::ParseResult parsed = mci::parseCommand(line, kOpen);
        ASSERT_TRUE(parsed.command) << qPrintable(parsed.error);
        EXPECT_TRUE(parsed.command->wait);
        const auto *open = std::get_if<mci::OpenAction>(&parsed.command->action);
        EXPECT_EQ(open ? open->path : std::get<mci::CaptureAction>(parsed.command->action).path,
                  path);

        parsed = mci::parseCommand(line + QLatin1Char(' '), kOpen);
        EXPECT_FALSE(parsed.command);
        EXPECT_EQ(parsed.error, kTooLong);
    }
}

TEST(Parser, HugeAndControlCharactersGiveShortReadableMessages)
{
    const QString huge(kLimit, QLatin1Char('x'));
    mci::ParseResult parsed = mci::parseCommand(huge, kOpen);
    ASSERT_FALSE(parsed.command);
    EXPECT_TRUE(parsed.error.startsWith(QStringLiteral("コマンドが分かりません: xxxx")));
    EXPECT_LT(parsed.error.size(), 100);

    parsed = mci::parseCommand(QStringLiteral("play /a from ") + huge.left(kLimit - 13), kOpen);
    ASSERT_FALSE(parsed.command);
    EXPECT_LT(parsed.error.size(), 100);

    // A NUL in a token is shown as its picture, not cut short.
    const QString withNul = QStringLiteral("play /a from 1") + QChar(0) + QStringLiteral("2");
    parsed = mci::parseCommand(withNul, kOpen);
    ASSERT_FALSE(parsed.command);
    EXPECT_EQ(parsed.error, QStringLiteral("数値が正しくありません: 1␀2"));
    parsed = mci::parseCommand(QStringLiteral("play /a\nstop /a"), kOpen);
    ASSERT_TRUE(parsed.command); // no such device: the dispatcher says so
    EXPECT_EQ(parsed.command->device, QStringLiteral("/a\nstop /a"));
}

} // namespace
