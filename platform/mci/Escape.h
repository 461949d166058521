#pragma once

#include <QString>
#include <QStringView>

namespace mci {

// One command or reply on one line: tab, CR, LF and backslash become \t \r \n \\, and a NUL
// becomes \0, so that a trace or console line can always be read back as one command.
QString escapeLine(QStringView text);

// A token as an error message shows it: escaped like a line and cut to a readable length, so
// that a megabyte of garbage does not become a megabyte of message box.
QString shownToken(QStringView token);

} // namespace mci
