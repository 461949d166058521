#include "capture/Form1.h"
#include "tests/support/PanelFixture.h"

#include <functional>

// Without a usable video every gated handler of these folders does nothing at all.
using GateTest = PanelFixture;

TEST_F(GateTest, GatedHandlersDoNothingWhileDeviceErrorIsMinusOne)
{
    haveVideo(1280, 960);
    form->DeviceError = -1;
    form->state.TimeDisplayMode = 1;
    form->state.ForwardPlayState = 1;
    form->Slider2->setProgramValue(2000);
    form->state.PlaybackSpeed = 2000;
    const QString labelBefore = form->Label1->text();

    const std::pair<const char *, std::function<void()>> handlers[] = {
        {"Slider1_Change", [&] { form->Slider1_Change(); }},
        {"Label1_DblClick", [&] { form->Label1_DblClick(); }},
        {"Slider2_Change", [&] { form->Slider2_Change(); }},
        {"Label2_DblClick", [&] { form->Label2_DblClick(); }},
        {"Command11_Click", [&] { form->Command11_Click(); }},
        {"Command12_Click", [&] { form->Command12_Click(); }},
        {"Command20_Click", [&] { form->Command20_Click(); }},
        {"Command19_Click", [&] { form->Command19_Click(); }},
    };
    for (const auto &[name, handler] : handlers) {
        handler();
        EXPECT_TRUE(channel.commands.isEmpty()) << name;
        EXPECT_TRUE(control.log.isEmpty()) << name;
    }
    EXPECT_EQ(form->state.TimeDisplayMode, 1);
    EXPECT_EQ(form->state.ForwardPlayState, 1);
    EXPECT_EQ(form->state.PlaybackSpeed, 2000);
    EXPECT_EQ(form->Slider2->value(), 2000);
    EXPECT_EQ(form->state.VideoWidth, 1280);
    EXPECT_EQ(form->state.VideoHeight, 960);
    EXPECT_EQ(form->Label1->text(), labelBefore);
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(Form1::existing(), nullptr);
}
