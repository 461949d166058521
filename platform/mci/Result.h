#pragma once

#include <QString>

namespace mci {

// What every command comes back as, whoever sent it: the console, the panel's channel, the
// multimedia control or a test.
struct Result {
    bool ok = true;
    QString reply;   // the command's reply; empty when it has none
    QString error;   // when !ok: the message, in Japanese, as the user is told it

    static Result success(const QString &reply = QString()) { return {true, reply, {}}; }
    static Result failure(const QString &message) { return {false, {}, message}; }
};

} // namespace mci
