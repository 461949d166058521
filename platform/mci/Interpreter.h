#pragma once

#include "platform/mci/Device.h"
#include "platform/mci/Result.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

namespace mci {

// The text-command interpreter of the multimedia layer.
//
// One instance per program; the panel's channel, the multimedia control and the console all
// send to it. Devices register by type ("avivideo"); "open" creates a device of a type under
// a name (its path, or an alias), and every later command addresses it by that name.
//
// Device names are found by matching the text after the verb against the names of the open
// devices, longest first, so that an unquoted path with blanks still reaches its device.
//
// With KURIMO_TRACE naming a file when the interpreter is built, every command it receives
// (send and execute alike) is appended there with its reply or error, one line each.
class Interpreter {
public:
    Interpreter();
    ~Interpreter();
    Interpreter(const Interpreter &) = delete;
    Interpreter &operator=(const Interpreter &) = delete;

    // Type names compare without regard to case ("AVIVideo" is "avivideo").
    void registerType(const QString &type, DeviceFactory factory);

    // Parse and run one command. Never shows anything.
    Result send(const QString &command);

    // The same, but a failure is also told through the error reporter: this is the layer's
    // own error box, for callers that do not look at results.
    Result execute(const QString &command);

    // Who tells the user about a failed execute(); none by default (the console).
    void setErrorReporter(std::function<void(const QString &command, const QString &message)>);

    // Names of the open devices.
    QStringList openDevices() const;

    // The device open under this name, or nullptr.
    Device *device(const QString &name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace mci
