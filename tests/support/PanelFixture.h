#pragma once

#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "platform/windowing/CommonDialog.h"
#include "platform/windowing/EventPump.h"
#include "shell/Controls.h"
#include "shell/frmMain.h"
#include "tests/support/FixedScreen.h"
#include "tests/support/RecordingMessages.h"

#include <QRawFont>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

// A channel that keeps every command string it is given, in order, and answers "where"
// with a reply the test chooses.
class RecordingChannel final : public CommandChannel {
public:
    bool mciExecute(const QString &command) override
    {
        // The time label's unit switches go round every reading in seconds: kept apart, so
        // that the transport's commands read alone.
        (command.contains(QLatin1String(" time format ")) ? timeFormats : commands) << command;
        if (onExecute)
            onExecute(command);
        return true;
    }

    int mciSendString(const QString &command, QString &replyBuffer, int bufferSize) override
    {
        commands << command;
        replyBuffer = whereReply.left(bufferSize - 1);
        return 0;
    }

    QStringList commands;
    QStringList timeFormats;
    QString whereReply = QStringLiteral("0 0 320 240");
    std::function<void(const QString &)> onExecute;
};

// A multimedia control that records what is written to it and plays a simple device: "Open"
// makes it usable with the length the test set, "seek" moves the position to the target.
class RecordingControl final : public MciControl {
public:
    void setDeviceType(const QString &type) override { m_type = type; }
    QString deviceType() const override { return m_type; }
    void setFileName(const QString &name) override { m_fileName = name; }
    QString fileName() const override { return m_fileName; }

    void setCommand(const QString &command) override
    {
        log << command;
        if (command == QLatin1String("seek")) {
            seeks << m_to;
            currentPosition = m_to;
        } else if (command == QLatin1String("Open")) {
            isOpen = true;
            currentPosition = 0;
        } else if (command == QLatin1String("Close")) {
            isOpen = false;
        }
        if (onCommand)
            onCommand(command);
    }

    void setTo(qint32 position) override
    {
        log << QStringLiteral("to=%1").arg(position);
        m_to = position;
    }

    bool canPlay() const override { return isOpen && playable; }
    qint32 length() const override { return isOpen ? mediaLength : 0; }
    qint32 position() const override { return currentPosition; }

    // Everything written, in order: "to=N", "seek", "Open", "Close".
    QStringList log;
    QList<qint32> seeks;
    qint32 mediaLength = 250;
    qint32 currentPosition = 0;
    bool playable = true;
    bool isOpen = false;
    std::function<void(const QString &)> onCommand;

private:
    QString m_type;
    QString m_fileName;
    qint32 m_to = 0;
};

// Whether the font the design names lands on an installed font with Japanese glyphs (which
// one is the font substitution's business).
inline bool hasJapaneseGlyphs(const QFont &font)
{
    return QRawFont::fromFont(font).supportsCharacter(QChar(u'時'));
}

// A form's place and size in twips, to compare as one.
inline QRectF twips(const windowing::FormGeometry &g)
{
    return {g.left(), g.top(), g.width(), g.height()};
}

// The loaded panel on the 1024 by 768 screen at 15 twips a pixel, with the recording channel,
// control and message box. Nothing here blocks: the open dialog answers from chosenPath.
class PanelFixture : public ::testing::Test {
protected:
    PanelFixture()
    {
        windowing::CommonDialog::setResponder(
            [this](const windowing::CommonDialog::Request &request) {
                dialogRequests.push_back(request);
                atDialog = control.log.join(' ') + (form->Timer1.isActive() ? " poll" : "");
                return chosenPath;
            });
        form = std::make_unique<frmMain>(channel, control);
        form->Form_Load();
    }

    ~PanelFixture() override
    {
        form.reset();
        windowing::CommonDialog::setResponder({});
        windowing::setEventPump({});
        frmMain::setExitHandler({});
    }

    // Opens a width by height video through the file button and forgets what that sent.
    void openVideo(qint32 length = 250, int width = 320, int height = 240)
    {
        chosenPath = path;
        control.mediaLength = length;
        control.playable = true;
        channel.whereReply = QStringLiteral("0 0 %1 %2").arg(width).arg(height);
        form->Command8_Click();
        ASSERT_EQ(form->DeviceError, 0);
        forget();
    }

    void forget()
    {
        channel.commands.clear();
        channel.timeFormats.clear();
        control.log.clear();
        control.seeks.clear();
        messages.events.clear();
        dialogRequests.clear();
    }

    // Everything that needs a video: disabled by the load step and by a failed open.
    QList<QWidget *> mediaControls() const
    {
        const frmMain &f = *form;
        return {f.Command1,  f.Command2,  f.Command3,  f.Command4,  f.Command6,  f.Command7,
                f.Command9,  f.Command10, f.Command11, f.Command12, f.Command13, f.Command14,
                f.Command15, f.Command16, f.Command17, f.Command18, f.Command20, f.Slider1,
                f.Slider2,   f.Label1,    f.Label2};
    }

    bool mediaControlsEnabled(bool enabled) const
    {
        for (QWidget *w : mediaControls())
            if (w->isEnabled() != enabled)
                return false;
        return true;
    }

    std::pair<int, int> pair() const
    {
        return {form->state.ForwardPlayState, form->state.ReversePlayState};
    }

    // Everything a handler may change on the panel, as one text: the same text before and
    // after a click means the click changed nothing.
    QString panelState() const
    {
        const frmMain &f = *form;
        const PlayerState &s = f.state;
        return QStringLiteral("%1%2 %3-%4 wind %5%6 %7 %8 %9")
                   .arg(s.ForwardPlayState).arg(s.ReversePlayState).arg(s.RangeFrom)
                   .arg(s.RangeTo).arg(s.FastForwardState).arg(s.RewindState)
                   .arg(s.SoundState).arg(s.RepeatMode).arg(s.PlaybackSpeed)
               + QStringLiteral(" time%1 %2x%3 %4 ").arg(s.TimeDisplayMode).arg(s.VideoWidth)
                     .arg(s.VideoHeight).arg(f.Timer1.isActive() ? "poll" : "-")
               + QStringList{f.Label1->text(), f.Command13->text(), f.Command14->text(),
                             QString::number(f.Label3->x()), QString::number(f.Label4->x()),
                             QString::number(f.Slider1->value()),
                             QString::number(f.Slider2->value())}
                     .join(QLatin1Char(' '));
    }

    const QString path = QStringLiteral("/videos/my clip.avi");
    QString chosenPath;
    std::vector<windowing::CommonDialog::Request> dialogRequests;
    QString atDialog; // what the control had been told, and the poll, when the dialog showed
    FixedScreen screen;
    RecordingMessages messages;
    RecordingChannel channel;
    RecordingControl control;
    std::unique_ptr<frmMain> form;
};
