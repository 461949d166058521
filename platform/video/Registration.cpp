#include "platform/video/Registration.h"

#include "platform/video/FrameSource.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/video/device/VideoDevice.h"
#include "platform/video/device/Messages.h"
#include "platform/video/device/Opening.h"
#include "platform/mci/Interpreter.h"

namespace video {

void registerVideoDevice(mci::Interpreter &interpreter)
{
    interpreter.registerType(QStringLiteral("avivideo"),
        [](const QString &path, QString *error) -> std::unique_ptr<mci::Device> {
            OpenError reason;
            std::unique_ptr<FrameSource> source = openKeepingEventsAlive(path, &reason);
            if (!source) {
                if (error)
                    *error = messages::cannotOpen(reason);
                return nullptr;
            }
            // A device stands still most of the time; the next picture is then ready before
            // the step that asks for it.
            source->setDecodeAhead(true);
            // A file whose sound cannot be played is still shown, silently.
            OpenError audioReason;
            std::unique_ptr<AudioTrack> audio = openSoundOf(path, *source, &audioReason);
            return std::make_unique<VideoDevice>(path, std::move(source), std::move(audio),
                VideoDevice::Options{});
        });
}

} // namespace video
