#pragma once

#include "platform/mci/Command.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace mci {

struct ParseResult {
    std::optional<Command> command;
    QString error; // when there is no command: the message, naming the bad token
};

// The longest command text taken, in UTF-16 code units: far above any path or real command,
// low enough that no text can hold the interpreter up. A longer one is refused unread.
constexpr qsizetype kMaxCommandLength = 64 * 1024;

// Turns one command's text into a typed command, in time linear in its length. The names of
// the open devices are needed to find where an unquoted device name with blanks ends: the
// longest open name that the text after the verb begins with, followed by a blank or the
// end, is the device.
ParseResult parseCommand(QStringView text, const QStringList &openDevices);

} // namespace mci
