#include "tests/support/RunProgram.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

ProgramRun runProgram(const QString &program, const QStringList &args)
{
    ProgramRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;

    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &arg : args)
        words.push_back(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return run;
    }
    run.started = true;

    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(out[0], buffer, sizeof buffer);
        if (count > 0)
            run.output.append(buffer, count);
        else if (count == 0 || errno != EINTR)
            break;
    }
    ::close(out[0]);
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}
