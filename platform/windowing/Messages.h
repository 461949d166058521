#pragma once

#include <QString>

namespace windowing {

enum class MessageIcon { None, Critical, Warning, Information };

// One modal message box with a single OK button.
struct MessageBoxRequest {
    QString title;
    QString text;
    MessageIcon icon = MessageIcon::None;
};

// The system beep and the modal message box. Tests put a recorder in place of the real one
// so that nothing blocks and every box can be checked.
class MessageService {
public:
    virtual ~MessageService() = default;
    virtual void beep() = 0;
    virtual void messageBox(const MessageBoxRequest &request) = 0;
};

// The service in force: the real one unless a test has installed its own.
MessageService &messages();
// nullptr brings the real service back. The caller keeps ownership.
void setMessageService(MessageService *service);

} // namespace windowing
