#pragma once

#include <QString>
#include <QStringView>

namespace mci {

// One command or reply on one line: tab, CR, LF and backslash become \t \r \n \\, and a NUL
// becomes \0, so that a trace or console line can always be read back as one command.
QString escapeLine(QStringView text);

// A token as an error message shows it: control characters as their visible pictures (a tab
// as U+2409, a NUL as U+2400), cut to a readable length so that a megabyte of garbage does not
// become a megabyte of message box. No backslashes are added, so a trace or console line that
// escapes the message shows the token once, as it was.
QString shownToken(QStringView token);

// A path as an error message shows it: like shownToken, but what gives way to the length is
// the folder, from its start; the file's name, the part a person looks for, stays whole.
QString shownPath(QStringView path);

} // namespace mci
