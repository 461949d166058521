#pragma once

#include "platform/mci/Device.h"
#include "platform/mci/Interpreter.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// A device that answers every call from what the test set and keeps what it was asked, typed.
class RecordingDevice final : public mci::Device {
public:
    RecordingDevice(const QString &path, std::shared_ptr<QStringList> journal)
        : m_path(path), m_journal(std::move(journal))
    {
    }
    ~RecordingDevice() override { note(QStringLiteral("destroyed")); }

    bool canPlay() const override { return playable; }
    mci::Result play(const mci::PlayRequest &request) override
    {
        lastPlay = request;
        return answer(QStringLiteral("play"));
    }
    mci::Result pause() override { return answer(QStringLiteral("pause")); }
    mci::Result stop() override { return answer(QStringLiteral("stop")); }
    mci::Result seek(const mci::SeekRequest &request) override
    {
        lastSeek = request;
        return answer(QStringLiteral("seek"));
    }
    mci::Result status(mci::StatusItem item) override
    {
        lastStatus = item;
        const mci::Result result = answer(QStringLiteral("status"));
        if (!result.ok)
            return result;
        const auto it = statusReplies.find(item);
        return mci::Result::success(it == statusReplies.end() ? QString() : it->second);
    }
    mci::Result setTimeFormat(mci::TimeFormat format) override
    {
        lastTimeFormat = format;
        return answer(QStringLiteral("setTimeFormat"));
    }
    mci::Result setSpeed(qint32 speed) override
    {
        lastSpeed = speed;
        return answer(QStringLiteral("setSpeed"));
    }
    mci::Result setAudio(bool on) override
    {
        lastAudio = on;
        return answer(QStringLiteral("setAudio"));
    }
    mci::Result whereSource() override
    {
        const mci::Result result = answer(QStringLiteral("whereSource"));
        return result.ok ? mci::Result::success(sourceReply) : result;
    }
    mci::Result putWindow(const mci::Rect &rect) override
    {
        lastRect = rect;
        return answer(QStringLiteral("putWindow"));
    }
    mci::Result update(const mci::Rect &rect, QImage &surface) override
    {
        lastRect = rect;
        lastSurface = &surface;
        return answer(QStringLiteral("update"));
    }
    mci::Result capture(const QString &path) override
    {
        lastCapturePath = path;
        return answer(QStringLiteral("capture"));
    }
    void waitForPlayEnd() override
    {
        note(QStringLiteral("wait"));
        if (onWait)
            onWait();
        note(QStringLiteral("waited"));
    }

    // Every call by name, in order.
    QStringList calls;
    // When set, every call but canPlay and waitForPlayEnd answers this.
    std::optional<mci::Result> failure;
    bool playable = true;
    std::map<mci::StatusItem, QString> statusReplies;
    QString sourceReply = QStringLiteral("0 0 320 240");
    std::function<void()> onWait;

    std::optional<mci::PlayRequest> lastPlay;
    std::optional<mci::SeekRequest> lastSeek;
    std::optional<mci::StatusItem> lastStatus;
    std::optional<mci::TimeFormat> lastTimeFormat;
    std::optional<qint32> lastSpeed;
    std::optional<bool> lastAudio;
    std::optional<mci::Rect> lastRect;
    QImage *lastSurface = nullptr;
    QString lastCapturePath;

private:
    void note(const QString &what)
    {
        calls << what;
        if (m_journal)
            *m_journal << m_path + QLatin1Char(' ') + what;
    }
    mci::Result answer(const QString &what)
    {
        note(what);
        return failure ? *failure : mci::Result::success();
    }

    QString m_path;
    std::shared_ptr<QStringList> m_journal;
};

// Registers a recording device type with an interpreter. Files whose name contains "broken"
// do not open; every device writes "PATH CALL" lines to one journal, shared so that devices
// the interpreter closes after this is gone still have it.
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
