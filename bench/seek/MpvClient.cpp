#include "bench/seek/MpvClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

using Clock = std::chrono::steady_clock;

MpvClient::~MpvClient() { stop(); }

bool MpvClient::start(const QString &socketPath)
{
    ::unlink(socketPath.toLocal8Bit().constData());
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const QByteArray ipc = "--input-ipc-server=" + socketPath.toLocal8Bit();
        ::execlp("mpv", "mpv", "--idle=yes", ipc.constData(), "--vo=null", "--ao=null",
            "--no-config", "--pause", "--hr-seek=yes", "--keep-open=yes", "--really-quiet",
            static_cast<char *>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socketPath.toLocal8Bit().constData(),
            sizeof(addr.sun_path) - 1);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0) {
            m_fd = fd;
            return true;
        }
        ::close(fd);
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            m_pid = -1;
            return false;
        }
        QThread::msleep(20);
    }
    stop();
    return false;
}

void MpvClient::stop()
{
    if (m_fd >= 0) {
        command({"quit"});
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_pid > 0) {
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid_t(m_pid), &status, WNOHANG) == pid_t(m_pid)) {
                m_pid = -1;
                return;
            }
            QThread::msleep(10);
        }
        ::kill(pid_t(m_pid), SIGKILL);
        int status = 0;
        ::waitpid(pid_t(m_pid), &status, 0);
        m_pid = -1;
    }
}

bool MpvClient::commandJson(const QJsonObject &object)
{
    if (m_fd < 0)
        return false;
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    return ::send(m_fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size();
}

bool MpvClient::command(const QStringList &args)
{
    QJsonArray array;
    for (const QString &a : args)
        array.append(a);
    return commandJson(QJsonObject{{"command", array}});
}

void MpvClient::observe(int id, const QString &name)
{
    commandJson(QJsonObject{{"command", QJsonArray{"observe_property", id, name}}});
}

std::optional<QJsonObject> MpvClient::readMessage(Clock::time_point deadline)
{
    for (;;) {
        const int newline = int(m_buffer.indexOf('\n'));
        if (newline >= 0) {
            const QByteArray line = m_buffer.left(newline);
            m_buffer.remove(0, newline + 1);
            if (qEnvironmentVariableIsSet("KURIMO_BENCH_TRACE"))
                std::fprintf(stderr, "mpv: %s\n", line.constData());
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (doc.isObject())
                return doc.object();
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now()).count();
        if (left <= 0 || m_fd < 0)
            return std::nullopt;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            return std::nullopt;
        char chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(chunk, int(n));
    }
}

bool MpvClient::waitEvent(const QString &name, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (auto message = readMessage(deadline)) {
        if (message->value("event").toString() == name)
            return true;
    }
    return false;
}

std::optional<double> MpvClient::waitProperty(const QString &name, std::optional<double> value,
    std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::optional<double> last;
    while (auto message = readMessage(deadline)) {
        if (message->value("event").toString() != "property-change" ||
            message->value("name").toString() != name || !message->value("data").isDouble())
            continue;
        last = message->value("data").toDouble();
        if (!value || *last == *value)
            return last;
    }
    return last;
}

std::optional<double> MpvClient::getProperty(const QString &name,
    std::chrono::milliseconds timeout)
{
    const int id = ++m_requestId;
    commandJson(QJsonObject{{"command", QJsonArray{"get_property", name}}, {"request_id", id}});
    const auto deadline = Clock::now() + timeout;
    while (auto message = readMessage(deadline)) {
        if (message->value("request_id").toInt() == id) {
            if (message->value("data").isDouble())
                return message->value("data").toDouble();
            return std::nullopt;
        }
    }
    return std::nullopt;
}
