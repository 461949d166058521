#include "platform/mci/Interpreter.h"

#include "platform/mci/DeviceTable.h"
#include "platform/mci/Dispatcher.h"
#include "platform/mci/ErrorText.h"
#include "platform/mci/Parser.h"
#include "platform/mci/Trace.h"

#include <new>

namespace mci {

struct Interpreter::Impl {
    DeviceTable devices;
    std::unique_ptr<Trace> trace = Trace::fromEnvironment();
    std::function<void(const QString &, const QString &)> reportError;
};

Interpreter::Interpreter() : d(std::make_unique<Impl>()) {}

// Devices close before the trace and the reporter go.
Interpreter::~Interpreter()
{
    d->devices.removeAll();
}

void Interpreter::registerType(const QString &type, DeviceFactory factory)
{
    d->devices.registerType(type, std::move(factory));
}

Result Interpreter::send(const QString &command)
{
    Result result;
    // Out of memory a command fails, and the program with its devices goes on: what the
    // command had made is let go on the way out.
    try {
        const ParseResult parsed = parseCommand(command, d->devices.names());
        result = parsed.command ? dispatch(*parsed.command, d->devices)
                                : Result::failure(parsed.error);
    } catch (const std::bad_alloc &) {
        result = Result::failure(errortext::outOfMemory());
    }
    if (d->trace)
        d->trace->write(command, result);
    return result;
}

Result Interpreter::execute(const QString &command)
{
    const Result result = send(command);
    if (!result.ok && d->reportError)
        d->reportError(command, result.error);
    return result;
}

void Interpreter::setErrorReporter(
    std::function<void(const QString &command, const QString &message)> reporter)
{
    d->reportError = std::move(reporter);
}

QStringList Interpreter::openDevices() const
{
    return d->devices.names();
}

Device *Interpreter::device(const QString &name) const
{
    return d->devices.find(name).get();
}

} // namespace mci
