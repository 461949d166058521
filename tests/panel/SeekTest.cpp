#include "tests/support/PanelFixture.h"

using SeekTest = PanelFixture;

// Each seek button during a forward play: what the control is told, the play buttons' pair
// after it (from (1, 0)), the poll on, no command string.
TEST_F(SeekTest, SeeksThroughTheControlAndEnablesThePoll)
{
    const struct {
        void (frmMain::*click)();
        qint32 position;
        QStringList log;
        std::pair<int, int> after;
    } rows[] = {
        {&frmMain::Command3_Click, 120, {"to=0", "seek"}, {0, 0}},
        {&frmMain::Command4_Click, 120, {"to=250", "seek"}, {0, 0}},
        {&frmMain::Command9_Click, 100, {"to=101", "seek"}, {2, 2}},
        {&frmMain::Command9_Click, 249, {"to=250", "seek"}, {2, 2}},
        {&frmMain::Command9_Click, 250, {}, {1, 0}},
        {&frmMain::Command10_Click, 100, {"to=99", "seek"}, {2, 2}},
        {&frmMain::Command10_Click, 1, {"to=0", "seek"}, {2, 2}},
        {&frmMain::Command10_Click, 0, {}, {1, 0}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::Message() << "row at " << row.position << " to "
                                          << row.log.join(' ').toStdString());
        openVideo(250);
        form->state.RangeFrom = 50; // the marks play no part
        form->state.RangeTo = 200;
        form->state.ForwardPlayState = 1;
        form->Timer1.stop();
        control.currentPosition = row.position;
        (form.get()->*row.click)();
        EXPECT_EQ(control.log, row.log);
        EXPECT_EQ(pair(), row.after);
        EXPECT_TRUE(form->Timer1.isActive());
        EXPECT_TRUE(channel.commands.isEmpty());
    }
}
