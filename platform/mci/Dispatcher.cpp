#include "platform/mci/Dispatcher.h"

#include "platform/mci/ErrorText.h"
#include "platform/mci/Surfaces.h"

namespace mci {

namespace {

Result open(const OpenAction &action, DeviceTable &devices)
{
    const DeviceFactory *factory = devices.factory(action.type);
    if (!factory)
        return Result::failure(errortext::unknownType(action.type));
    const QString name = action.alias.isEmpty() ? action.path : action.alias;
    // "all" means every device to close; no device may be called that.
    if (name.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        return Result::failure(errortext::reservedName(name));
    if (name.isEmpty())
        return Result::failure(errortext::noDeviceName(QStringLiteral("alias")));
    if (devices.find(name))
        return Result::failure(errortext::alreadyOpen(name));
    QString reason;
    std::unique_ptr<Device> device = (*factory)(action.path, &reason);
    if (!device)
        return Result::failure(errortext::cannotOpen(action.path, reason));
    // A long open runs the event loop, where a command from elsewhere may take the name.
    if (devices.find(name))
        return Result::failure(errortext::alreadyOpen(name));
    devices.add(name, std::move(device));
    return Result::success();
}

// A device closed while a "wait" still holds it must not play on until its play ends by
// itself: closing stops it at once, picture and sound.
void stopAndRemove(const QString &name, DeviceTable &devices)
{
    if (const std::shared_ptr<Device> device = devices.find(name))
        device->stop();
    devices.remove(name);
}

Result close(const Command &command, DeviceTable &devices)
{
    if (command.all) {
        for (const QString &name : devices.names())
            stopAndRemove(name, devices);
        return Result::success();
    }
    if (!devices.find(command.device))
        return Result::failure(errortext::notOpen(command.device));
    stopAndRemove(command.device, devices);
    return Result::success();
}

Result onDevice(const Action &action, Device &device)
{
    return std::visit(
        Overloaded{
            [](const OpenAction &) { return Result::failure(errortext::noCommand()); },
            [](const CloseAction &) { return Result::failure(errortext::noCommand()); },
            [&](const PlayAction &a) { return device.play(a.request); },
            [&](const PauseAction &) { return device.pause(); },
            [&](const StopAction &) { return device.stop(); },
            [&](const SeekAction &a) { return device.seek(a.request); },
            [&](const StatusAction &a) { return device.status(a.item); },
            [&](const SetTimeFormatAction &a) { return device.setTimeFormat(a.format); },
            [&](const SetSpeedAction &a) { return device.setSpeed(a.speed); },
            [&](const SetAudioAction &a) { return device.setAudio(a.on); },
            [&](const WhereSourceAction &) { return device.whereSource(); },
            [&](const PutWindowAction &a) { return device.putWindow(a.rect); },
            [&](const UpdateAction &a) {
                QImage *surface = a.surface > 0 ? Surfaces::find(quint32(a.surface)) : nullptr;
                if (!surface)
                    return Result::failure(
                        errortext::unknownSurface(QString::number(a.surface)));
                return device.update(a.rect, *surface);
            },
            [&](const CaptureAction &a) { return device.capture(a.path); },
            [&](const CanPlayAction &) {
                return Result::success(device.canPlay() ? QStringLiteral("true")
                                                        : QStringLiteral("false"));
            },
        },
        action);
}

} // namespace

Result dispatch(const Command &command, DeviceTable &devices)
{
    if (const auto *action = std::get_if<OpenAction>(&command.action))
        return open(*action, devices);
    if (std::holds_alternative<CloseAction>(command.action))
        return close(command, devices);

    // Held here, not borrowed: the device may be closed from inside its own call.
    const std::shared_ptr<Device> device = devices.find(command.device);
    if (!device)
        return Result::failure(errortext::notOpen(command.device));
    // A play round and round never ends: waiting for it would hold the caller for ever.
    if (const auto *play = std::get_if<PlayAction>(&command.action);
        play && play->request.repeat && command.wait)
        return Result::failure(errortext::conflict(QStringLiteral("repeat wait")));
    Result result = onDevice(command.action, *device);
    if (result.ok && command.wait) {
        device->waitForPlayEnd();
        // What the wait was for did not happen: the command that waited fails.
        if (const QString why = device->playFailure(); !why.isEmpty())
            return Result::failure(why);
    }
    return result;
}

} // namespace mci
