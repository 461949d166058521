#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// mpv driven through its JSON IPC socket: one idle mpv process without video or sound output,
// commands sent as JSON lines, events read back with a deadline.
class MpvClient {
public:
    MpvClient() = default;
    ~MpvClient();
    MpvClient(const MpvClient &) = delete;
    MpvClient &operator=(const MpvClient &) = delete;

    bool start(const QString &socketPath);
    void stop();
    bool running() const { return m_fd >= 0; }

    // Sends a command and returns at once (its reply is skipped while waiting for events).
    bool command(const QStringList &args);
    bool commandJson(const QJsonObject &object);
    // Waits for an event of this name; false on timeout.
    bool waitEvent(const QString &name, std::chrono::milliseconds timeout);
    // Waits until a property observed with observe() changes to `value` (or to anything
    // when value is nullopt); returns the value seen last.
    std::optional<double> waitProperty(const QString &name, std::optional<double> value,
        std::chrono::milliseconds timeout);
    void observe(int id, const QString &name);
    std::optional<double> getProperty(const QString &name, std::chrono::milliseconds timeout);

    // The next message (reply or event), or nullopt at the deadline.
    std::optional<QJsonObject> readMessage(std::chrono::steady_clock::time_point deadline);

private:

    long long m_pid = -1;
    int m_fd = -1;
    QByteArray m_buffer;
    int m_requestId = 1000;
};
