#include "platform/avi/Registration.h"

#include "platform/avi/FrameSource.h"
#include "platform/avi/audio/AudioTrack.h"
#include "platform/avi/device/AviVideoDevice.h"
#include "platform/avi/device/Messages.h"
#include "platform/mci/Interpreter.h"

namespace avi {

void registerAviVideo(mci::Interpreter &interpreter)
{
    interpreter.registerType(QStringLiteral("avivideo"),
        [](const QString &path, QString *error) -> std::unique_ptr<mci::Device> {
            QString reason;
            std::unique_ptr<FrameSource> source = openFrameSource(path, &reason);
            if (!source) {
                if (error)
                    *error = messages::cannotOpen(reason);
                return nullptr;
            }
            // A file whose sound cannot be played is still shown, silently.
            QString audioReason;
            std::unique_ptr<AudioTrack> audio = openAudioTrack(path, &audioReason);
            return std::make_unique<AviVideoDevice>(path, std::move(source), std::move(audio),
                AviVideoDevice::Options{});
        });
}

} // namespace avi
