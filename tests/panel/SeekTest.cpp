#include "tests/support/PanelFixture.h"

namespace {

struct Row {
    const char *name;
    void (frmMain::*click)();
    qint32 position;
    QStringList log;          // what the control was told
    std::pair<int, int> after; // from (1, 0)
};

std::ostream &operator<<(std::ostream &os, const Row &row)
{
    return os << row.name << " at " << row.position;
}

} // namespace

class SeekTest : public PanelFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(SeekTest, SeeksThroughTheControlAndEnablesThePoll)
{
    const Row &row = GetParam();
    openVideo(250);
    form->state.RangeFrom = 50; // the marks play no part
    form->state.RangeTo = 200;
    form->state.ForwardPlayState = 1;
    control.currentPosition = row.position;
    (form.get()->*row.click)();
    EXPECT_EQ(control.log, row.log);
    EXPECT_EQ(pair(), row.after);
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_TRUE(channel.commands.isEmpty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Buttons, SeekTest, ::testing::Values(
    Row{"ToStart", &frmMain::Command3_Click, 120, {"to=0", "seek"}, {0, 0}},
    Row{"ToEnd", &frmMain::Command4_Click, 120, {"to=250", "seek"}, {0, 0}},
    Row{"StepForward", &frmMain::Command9_Click, 100, {"to=101", "seek"}, {2, 2}},
    Row{"StepForwardToTheEnd", &frmMain::Command9_Click, 249, {"to=250", "seek"}, {2, 2}},
    Row{"StepForwardAtTheEnd", &frmMain::Command9_Click, 250, {}, {1, 0}},
    Row{"StepBack", &frmMain::Command10_Click, 100, {"to=99", "seek"}, {2, 2}},
    Row{"StepBackToZero", &frmMain::Command10_Click, 1, {"to=0", "seek"}, {2, 2}},
    Row{"StepBackAtZero", &frmMain::Command10_Click, 0, {}, {1, 0}}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });
// clang-format on
