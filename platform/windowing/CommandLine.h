#pragma once

#include <QString>
#include <optional>

namespace windowing {

// What a program's command line asks for: at most one operand, --help, --version.
struct CommandLine {
    QString operand;            // empty when none was given
    std::optional<int> exitNow; // --help, --version or a mistake: end with this status
};

// Read before Qt sees the arguments, so that --help and --version work without a display and
// no argument is taken for one of Qt's own options. "--" ends the options. Prints what it
// has to say (the usage to standard output when asked for, to standard error after a
// mistake, with `tooMany` first when more than one operand was given).
CommandLine readCommandLine(int argc, char **argv, const char *program, const char *usage,
                            const char *tooMany);

} // namespace windowing
