// grab-panel: draws the control panel headless, with a video open, into a PNG for the docs.
//
//   grab-panel [output.png]      (default: docs/panel.png)
//
// No device is involved: a stand-in control and channel answer as a usable 320 by 240 video
// of 250 frames would, so every button shows its face and caption as in use.

#include "media/CommandChannel.h"
#include "media/MciControl.h"
#include "platform/windowing/CommonDialog.h"
#include "platform/windowing/Fonts.h"
#include "platform/windowing/ScreenMetrics.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QImage>
#include <QTextStream>

namespace {

class SilentChannel final : public CommandChannel {
public:
    bool mciExecute(const QString &) override { return true; }
    int mciSendString(const QString &, QString &reply, int) override
    {
        reply = QStringLiteral("0 0 320 240");
        return 0;
    }
};

class StillControl final : public MciControl {
public:
    void setDeviceType(const QString &type) override { m_type = type; }
    QString deviceType() const override { return m_type; }
    void setFileName(const QString &name) override { m_name = name; }
    QString fileName() const override { return m_name; }
    void setCommand(const QString &) override {}
    void setTo(qint32) override {}
    bool canPlay() const override { return true; }
    qint32 length() const override { return 250; }
    qint32 position() const override { return 0; }

private:
    QString m_type;
    QString m_name;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    windowing::installFontSubstitutes();
    windowing::setFixedScreen(windowing::kScreen1024x768);
    windowing::CommonDialog::setResponder(
        [](const windowing::CommonDialog::Request &) { return QStringLiteral("sample.avi"); });

    SilentChannel channel;
    StillControl control;
    frmMain panel(channel, control);
    panel.Form_Load();
    panel.Command8_Click();

    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QStringLiteral("docs/panel.png");
    const QImage image = panel.grab().toImage();
    if (!image.save(output)) {
        QTextStream(stderr) << "grab-panel: cannot write " << output << '\n';
        return 1;
    }
    QTextStream(stdout) << output << ": " << image.width() << "x" << image.height() << '\n';
    return 0;
}
