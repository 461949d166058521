#include "platform/windowing/CommandLine.h"

#include <QFile>
#include <QStringList>
#include <cstdio>
#include <cstring>

namespace windowing {

CommandLine readCommandLine(int argc, char **argv, const char *program, const char *usage,
                            const char *tooMany)
{
    CommandLine line;
    bool optionsEnd = false;
    QStringList operands;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (optionsEnd || arg[0] != '-' || arg[1] == '\0') {
            operands << QFile::decodeName(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(usage, stdout);
            line.exitNow = 0;
            return line;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("%s %s\n", program, KURIMO_VERSION);
            line.exitNow = 0;
            return line;
        } else {
            std::fprintf(stderr, "%s: 知らないオプションです: %s\n%s", program, arg, usage);
            line.exitNow = 2;
            return line;
        }
    }
    if (operands.size() > 1) {
        std::fprintf(stderr, "%s: %s\n%s", program, tooMany, usage);
        line.exitNow = 2;
        return line;
    }
    if (!operands.isEmpty())
        line.operand = operands.front();
    return line;
}

} // namespace windowing
