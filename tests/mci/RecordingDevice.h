#pragma once

#include "platform/mci/Device.h"
#include "platform/mci/Interpreter.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

// A device that answers every call from what the test set, and writes "PATH CALL" lines to a
// journal shared with its type, so that devices the interpreter closed still leave theirs.
class RecordingDevice final : public mci::Device {
public:
    RecordingDevice(const QString &path, std::shared_ptr<QStringList> journal)
        : m_path(path), m_journal(std::move(journal))
    {
    }
    ~RecordingDevice() override { note(QStringLiteral("destroyed")); }

    bool canPlay() const override { return playable; }
    mci::Result play(const mci::PlayRequest &) override { return answer("play"); }
    mci::Result pause() override { return answer("pause"); }
    mci::Result stop() override { return answer("stop"); }
    mci::Result seek(const mci::SeekRequest &) override { return answer("seek"); }
    mci::Result status(mci::StatusItem item) override
    {
        const auto it = statusReplies.find(item);
        return answer("status", it == statusReplies.end() ? QString() : it->second);
    }
    mci::Result setTimeFormat(mci::TimeFormat) override { return answer("setTimeFormat"); }
    mci::Result setSpeed(qint32) override { return answer("setSpeed"); }
    mci::Result setAudio(bool) override { return answer("setAudio"); }
    mci::Result whereSource() override { return answer("whereSource", sourceReply); }
    mci::Result putWindow(const mci::Rect &) override { return answer("putWindow"); }
    mci::Result update(const mci::Rect &, QImage &surface) override
    {
        lastSurface = &surface;
        return answer("update");
    }
    mci::Result capture(const QString &) override { return answer("capture"); }
    void waitForPlayEnd() override
    {
        note(QStringLiteral("wait"));
        if (onWait)
            onWait();
        note(QStringLiteral("waited"));
    }

    QStringList calls; // every call by name, in order
    std::optional<mci::Result> failure; // when set, every call answers it
    // Answered once, by the next call, as a play that stopped at a frame it could not read
    std::optional<mci::Result> nextFailure;
    bool playable = true;
    std::map<mci::StatusItem, QString> statusReplies;
    QString sourceReply = QStringLiteral("0 0 320 240");
    std::function<void()> onWait;
    std::function<void(const QString &call)> onCall; // inside each call, after it is noted
    QImage *lastSurface = nullptr;

private:
    void note(const QString &what)
    {
        calls << what;
        *m_journal << m_path + QLatin1Char(' ') + what;
    }
    mci::Result answer(const char *what, const QString &reply = {})
    {
        note(QString::fromLatin1(what));
        if (onCall)
            onCall(QString::fromLatin1(what));
        if (nextFailure)
            return *std::exchange(nextFailure, std::nullopt);
        return failure ? *failure : mci::Result::success(reply);
    }

    QString m_path;
    std::shared_ptr<QStringList> m_journal;
};

// Registers the recording device type with an interpreter. Files whose name contains
// "broken" do not open.
class RecordingDevices {
public:
    explicit RecordingDevices(mci::Interpreter &interpreter,
                              const QString &type = QStringLiteral("recording"))
        : m_interpreter(interpreter)
    {
        interpreter.registerType(type, [this](const QString &path, QString *error)
                                            -> std::unique_ptr<mci::Device> {
            *m_journal << path + QStringLiteral(" opened");
            if (path.contains(QLatin1String("broken"))) {
                *error = QStringLiteral("AVI ではありません");
                return nullptr;
            }
            auto device = std::make_unique<RecordingDevice>(path, m_journal);
            device->statusReplies = defaultStatus;
            return device;
        });
    }

    RecordingDevice *operator[](const QString &name) const
    {
        return dynamic_cast<RecordingDevice *>(m_interpreter.device(name));
    }

    const QStringList &journal() const { return *m_journal; }
    std::map<mci::StatusItem, QString> defaultStatus;

private:
    std::shared_ptr<QStringList> m_journal = std::make_shared<QStringList>();
    mci::Interpreter &m_interpreter;
};
