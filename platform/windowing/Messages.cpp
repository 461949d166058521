#include "platform/windowing/Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace windowing {

namespace {

class RealMessageService final : public MessageService {
public:
    void beep() override { QApplication::beep(); }

    void messageBox(const MessageBoxRequest &request) override
    {
        QMessageBox box;
        box.setWindowTitle(request.title);
        // The texts end their lines with a bare carriage return; Qt breaks lines on '\n'.
        QString text = request.text;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        box.setText(text.trimmed());
        box.setStandardButtons(QMessageBox::Ok);
        switch (request.icon) {
        case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MessageIcon::None: break;
        }
        box.exec();
    }
};

MessageService *g_service = nullptr;

} // namespace

MessageService &messages()
{
    static RealMessageService real;
    return g_service ? *g_service : real;
}

void setMessageService(MessageService *service)
{
    g_service = service;
}

} // namespace windowing
