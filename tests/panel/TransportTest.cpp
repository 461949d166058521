#include "tests/support/PanelFixture.h"

namespace {

enum class Button { Play, Reverse, Stop };

// One click on a usable video with the range 50 to 200 of 250 frames.
struct Row {
    Button button;
    std::pair<int, int> before;
    qint32 position;
    int repeatMode;
    std::pair<int, int> after;
    QString command; // empty: nothing sent
    bool timerAfter;
};

const QString kPath = QStringLiteral("/videos/my clip.avi");
QString cmd(const QString &tail)
{
    return tail.arg(kPath);
}

std::ostream &operator<<(std::ostream &os, const Row &row)
{
    const char *names[] = {"Play", "Reverse", "Stop"};
    return os << names[int(row.button)] << " from (" << row.before.first << ","
              << row.before.second << ") at " << row.position << " repeat " << row.repeatMode;
}

} // namespace

class TransportTest : public PanelFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(TransportTest, ClickMovesThePairAndSendsItsCommand)
{
    const Row &row = GetParam();
    openVideo(250);
    form->state.RangeFrom = 50;
    form->state.RangeTo = 200;
    form->state.RepeatMode = row.repeatMode;
    form->state.ForwardPlayState = row.before.first;
    form->state.ReversePlayState = row.before.second;
    control.currentPosition = row.position;
    // Start the timer in the opposite state, so that every row shows a switch.
    row.timerAfter ? form->Timer1.stop() : form->Timer1.start();

    switch (row.button) {
    case Button::Play: form->Command1_Click(); break;
    case Button::Reverse: form->Command15_Click(); break;
    case Button::Stop: form->Command2_Click(); break;
    }

    EXPECT_EQ(pair(), row.after);
    EXPECT_EQ(channel.commands, row.command.isEmpty() ? QStringList() : QStringList{row.command});
    EXPECT_EQ(form->Timer1.isActive(), row.timerAfter);
    EXPECT_TRUE(control.log.isEmpty()); // no seeks, no open or close
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Play, TransportTest, ::testing::Values(
    Row{Button::Play, {0, 0}, 120, 0, {1, 0}, cmd("play %1 from 50 to 200"), true},
    Row{Button::Play, {0, 0}, 120, 1, {1, 0}, cmd("play %1 from 50 to 200 repeat"), true},
    Row{Button::Play, {1, 0}, 200, 0, {1, 0}, cmd("play %1 from 50 to 200"), true},
    Row{Button::Play, {1, 0}, 250, 1, {1, 0}, cmd("play %1 from 50 to 200 repeat"), true},
    Row{Button::Play, {1, 0}, 199, 0, {2, 2}, cmd("pause %1"), false},
    Row{Button::Play, {0, 1}, 120, 0, {1, 0}, cmd("play %1 from 50 to 200"), true},
    Row{Button::Play, {2, 2}, 199, 0, {1, 0}, cmd("play %1"), true},
    Row{Button::Play, {2, 2}, 10, 1, {1, 0}, cmd("play %1"), true},
    Row{Button::Play, {2, 2}, 200, 0, {2, 0}, QString(), true},
    Row{Button::Play, {2, 0}, 100, 0, {1, 0}, cmd("play %1"), true},
    Row{Button::Play, {2, 0}, 230, 0, {2, 0}, QString(), true},
    Row{Button::Play, {0, 2}, 10, 0, {1, 0}, cmd("play %1 from 50 to 200"), true}));

INSTANTIATE_TEST_SUITE_P(Reverse, TransportTest, ::testing::Values(
    Row{Button::Reverse, {0, 0}, 120, 0, {0, 1}, cmd("play %1 from 200 to 50 reverse"), true},
    Row{Button::Reverse, {0, 0}, 120, 1, {0, 1},
        cmd("play %1 from 200 to 50 reverse repeat"), true},
    Row{Button::Reverse, {0, 1}, 50, 0, {0, 1}, cmd("play %1 from 200 to 50 reverse"), true},
    Row{Button::Reverse, {0, 1}, 0, 0, {0, 1}, cmd("play %1 from 200 to 50 reverse"), true},
    Row{Button::Reverse, {0, 1}, 51, 0, {2, 2}, cmd("pause %1"), false},
    Row{Button::Reverse, {1, 0}, 120, 0, {0, 1}, cmd("play %1 from 200 to 50 reverse"), true},
    Row{Button::Reverse, {2, 2}, 51, 0, {0, 1}, cmd("play %1 reverse"), true},
    Row{Button::Reverse, {2, 2}, 240, 1, {0, 1}, cmd("play %1 reverse"), true},
    Row{Button::Reverse, {2, 2}, 50, 0, {0, 2}, QString(), true},
    Row{Button::Reverse, {0, 2}, 60, 0, {0, 1}, cmd("play %1 reverse"), true},
    Row{Button::Reverse, {0, 2}, 3, 0, {0, 2}, QString(), true},
    Row{Button::Reverse, {2, 0}, 240, 0, {0, 1}, cmd("play %1 from 200 to 50 reverse"), true}));

INSTANTIATE_TEST_SUITE_P(Stop, TransportTest, ::testing::Values(
    Row{Button::Stop, {0, 0}, 120, 0, {0, 0}, cmd("stop %1"), false},
    Row{Button::Stop, {1, 0}, 120, 0, {0, 0}, cmd("stop %1"), false},
    Row{Button::Stop, {0, 1}, 120, 0, {0, 0}, cmd("stop %1"), false},
    Row{Button::Stop, {2, 2}, 120, 0, {0, 0}, cmd("stop %1"), false},
    Row{Button::Stop, {2, 0}, 120, 0, {0, 0}, cmd("stop %1"), false},
    Row{Button::Stop, {0, 2}, 120, 0, {0, 0}, cmd("stop %1"), false}));
// clang-format on

using TransportSequenceTest = PanelFixture;

// Play, pause, resume, pause, then Stop while paused: the next Play starts the range again
// from its start, not from where the pause held.
TEST_F(TransportSequenceTest, PlayPauseResumeStopPlay)
{
    openVideo(250);
    form->state.RangeFrom = 50;
    form->state.RangeTo = 200;
    form->show();
    form->Command1->click();
    control.currentPosition = 100;
    for (int click = 0; click < 3; ++click)
        form->Command1->click();
    form->Command2->click();
    form->Command1->click();
    const QString p = QStringLiteral("/videos/my clip.avi");
    EXPECT_EQ(channel.commands, (QStringList{"play " + p + " from 50 to 200", "pause " + p,
                                             "play " + p, "pause " + p, "stop " + p,
                                             "play " + p + " from 50 to 200"}));
    EXPECT_EQ(pair(), std::make_pair(1, 0));
    form->Command15->click();
    EXPECT_EQ(channel.commands.last(), "play " + p + " from 200 to 50 reverse");
}
