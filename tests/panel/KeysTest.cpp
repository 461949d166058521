#include "shell/PanelKeys.h"
#include "tests/support/PanelFixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <memory>

namespace {

// Keys and the wheel against the recording channel and control: a key must do exactly what
// its button's click does, in every state, and nothing while that button is disabled.
class Keys : public PanelFixture {
protected:
    enum class State { NoMedia, Stopped, Playing, ReversePaused, RangeSet };
    enum class At { Panel, Video, Slider, Button };

    Keys() { restart(); }

    // A fresh panel (with or without the key layer) in `state`, nothing recorded yet.
    void restart(State state = State::NoMedia, bool withKeys = true)
    {
        keys.reset();
        form = std::make_unique<frmMain>(channel, control);
        form->Form_Load();
        control.isOpen = false;
        control.currentPosition = 0;
        chosenPath.clear();
        if (withKeys)
            keys = std::make_unique<PanelKeys>(*form);
        if (state != State::NoMedia) {
            openVideo();
            control.currentPosition = 100;
        }
        // Clicks, so that the layer sees which play button paused.
        if (state == State::Playing)
            form->Command1->click();
        if (state == State::ReversePaused) {
            form->Command15->click();
            form->Command15->click();
        }
        if (state == State::RangeSet) {
            control.currentPosition = 50;
            form->Command16->click();
            control.currentPosition = 120;
            form->Command18->click();
            control.currentPosition = 80;
        }
        forget();
    }

    // Everything a handler can change that a person or the device would notice. A running
    // poll ticks once first: whether its real timer came round meanwhile is the machine's load,
    // not the handler's doing.
    std::string outcome(bool withControlLog = true)
    {
        if (form->Timer1.isActive())
            form->Timer1_Timer();
        return QStringList{panelState(), channel.commands.join('|'),
                           withControlLog ? control.log.join('|') : QString(),
                           QString::number(control.currentPosition), form->MediaPath,
                           QString::number(dialogRequests.size()),
                           QString::number(messages.events.size())}
            .join('\n')
            .toStdString();
    }

    QWidget *receiver(At at)
    {
        switch (at) {
        case At::Panel: return form.get();
        case At::Slider: return form->Slider1;
        case At::Button: return form->Command9;
        case At::Video:
            // The layer's window as the key layer sees it: a plain window the panel did not make.
            if (!video)
                video = std::make_unique<QWidget>();
            return video.get();
        }
        return nullptr;
    }

    static void settle()
    {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    void press(At at, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(receiver(at), Qt::Key(key), modifiers);
        settle();
    }

    void turnWheel(int angle)
    {
        QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, angle),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(receiver(At::Video), &wheel);
        settle();
    }

    std::unique_ptr<PanelKeys> keys;
    std::unique_ptr<QWidget> video;
};

using Click = std::function<void(frmMain &)>;
Click clickOf(PanelButton *frmMain::*button)
{
    return [button](frmMain &f) { (f.*button)->click(); };
}

TEST_F(Keys, EachKeyDoesWhatItsButtonDoesInEveryState)
{
    struct Row {
        const char *name;
        int key;
        Qt::KeyboardModifiers modifiers;
        Click same; // what a person would have clicked
        Click sameWhileReverse; // while a reverse play is paused, if that differs
    };
    const auto tenSteps = [](PanelButton *frmMain::*button) {
        return [button](frmMain &f) {
            for (int i = 0; i < 10; ++i)
                (f.*button)->click();
        };
    };
    const std::vector<Row> rows = {
        {"Right", Qt::Key_Right, {}, clickOf(&frmMain::Command9), {}},
        {".", Qt::Key_Period, {}, clickOf(&frmMain::Command9), {}},
        {"Left", Qt::Key_Left, {}, clickOf(&frmMain::Command10), {}},
        {",", Qt::Key_Comma, {}, clickOf(&frmMain::Command10), {}},
        {"Space", Qt::Key_Space, {}, clickOf(&frmMain::Command1), clickOf(&frmMain::Command15)},
        {"Home", Qt::Key_Home, {}, clickOf(&frmMain::Command3), {}},
        {"End", Qt::Key_End, {}, clickOf(&frmMain::Command4), {}},
        {"Escape", Qt::Key_Escape, {}, clickOf(&frmMain::Command2), {}},
        {"[", Qt::Key_BracketLeft, {}, clickOf(&frmMain::Command16), {}},
        {"]", Qt::Key_BracketRight, {}, clickOf(&frmMain::Command18), {}},
        {"\\", Qt::Key_Backslash, {}, clickOf(&frmMain::Command17), {}},
        {"Ctrl+C", Qt::Key_C, Qt::ControlModifier, clickOf(&frmMain::Command19), {}},
        {"Ctrl+O", Qt::Key_O, Qt::ControlModifier, clickOf(&frmMain::Command8), {}},
        // One jump where the step button would take ten.
        {"Page Down", Qt::Key_PageDown, {}, tenSteps(&frmMain::Command9), {}},
        {"Page Up", Qt::Key_PageUp, {}, tenSteps(&frmMain::Command10), {}},
    };
    const State states[] = {State::NoMedia, State::Stopped, State::Playing,
                            State::ReversePaused, State::RangeSet};
    for (const At at : {At::Panel, At::Video}) {
        for (const State state : states) {
            for (const Row &row : rows) {
                SCOPED_TRACE(::testing::Message() << row.name << " in state " << int(state)
                                                  << (at == At::Video ? " on the video" : ""));
                restart(state);
                press(at, row.key, row.modifiers);
                // Page keys end where ten clicks end, with one seek instead of ten.
                const bool jump = row.key == Qt::Key_PageDown || row.key == Qt::Key_PageUp;
                EXPECT_LE(control.log.count(QStringLiteral("seek")), 1);
                const std::string byKey = outcome(!jump);
                const bool sent = !channel.commands.isEmpty() || !control.log.isEmpty();

                restart(state);
                const Click &click = state == State::ReversePaused && row.sameWhileReverse
                                         ? row.sameWhileReverse
                                         : row.same;
                click(*form);
                settle();
                EXPECT_EQ(byKey, outcome(!jump));
                // Without a video only the file button may send anything.
                EXPECT_FALSE(state == State::NoMedia && row.key != Qt::Key_O && sent);
            }
        }
    }
}

// What a focused control keeps is exactly what it does without the key layer; the rest of
// the keys still reach their buttons.
TEST_F(Keys, AFocusedControlKeepsItsOwnKeys)
{
    struct Row {
        At at;
        int key;
        bool controlKeeps;
    };
    const std::vector<Row> rows = {
        {At::Slider, Qt::Key_Right, true}, {At::Slider, Qt::Key_Left, true},
        {At::Slider, Qt::Key_PageDown, true}, {At::Slider, Qt::Key_Home, true},
        {At::Slider, Qt::Key_End, true},     {At::Slider, Qt::Key_Space, false},
        {At::Slider, Qt::Key_Escape, false}, {At::Button, Qt::Key_Space, true},
        {At::Button, Qt::Key_Return, true},  {At::Button, Qt::Key_Right, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(::testing::Message() << "key " << row.key << " at " << int(row.at));
        restart(State::Stopped);
        form->Slider1->setProgramValue(100);
        press(row.at, row.key);
        const std::string withKeys = outcome();
        restart(State::Stopped, false);
        form->Slider1->setProgramValue(100);
        press(row.at, row.key);
        const std::string without = outcome();
        EXPECT_EQ(withKeys == without, row.controlKeeps);
    }
}

TEST_F(Keys, TheWheelOverTheVideoWindowStepsOneFrameANotch)
{
    restart(State::Stopped);
    turnWheel(-120);
    turnWheel(-120);
    turnWheel(120);
    // A fine-grained wheel steps once its turns add up to a notch.
    turnWheel(-60);
    EXPECT_EQ(control.seeks, (QList<qint32>{101, 102, 101}));
    turnWheel(-60);
    EXPECT_EQ(control.seeks, (QList<qint32>{101, 102, 101, 102}));
    EXPECT_EQ(pair(), std::make_pair(2, 2));
}

// A step the device takes long over: the repeats that arrive meanwhile are added up into one
// step, so the picture is never more than a step behind and ends where the key took it.
TEST_F(Keys, RepeatsThatArriveDuringASlowStepFoldIntoOne)
{
    restart(State::Stopped);
    int repeatsLeft = 12;
    control.onCommand = [&](const QString &command) {
        if (command != QLatin1String("seek"))
            return;
        // Three repeats come in while this step decodes.
        for (int i = 0; i < 3 && repeatsLeft > 0; ++i, --repeatsLeft)
            QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Right,
                                                                  Qt::NoModifier, QString(), true));
    };
    QTest::keyPress(form.get(), Qt::Key_Right);
    settle();
    QTest::keyRelease(form.get(), Qt::Key_Right);
    settle();
    EXPECT_EQ(control.seeks, (QList<qint32>{101, 104, 107, 110, 113}));
    EXPECT_EQ(control.currentPosition, 100 + 1 + 12);
    control.onCommand = {};
}

} // namespace
