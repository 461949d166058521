#pragma once

#include <QString>
#include <QStringView>

// Every message the interpreter itself gives, in one place: short, plain Japanese, naming the
// token at fault (escaped and cut by shownToken).
namespace mci::errortext {

QString noCommand();
QString outOfMemory();
QString tooLong(qsizetype limit);
QString unknownCommand(QStringView verb);
QString noDeviceName(QStringView verb);
QString notOpen(QStringView name);
QString alreadyOpen(QStringView name);
QString reservedName(QStringView name);
QString noPath(QStringView verb);
QString badNumber(QStringView token);
QString missingValue(QStringView keyword);
QString unknownWord(QStringView token);
QString twice(QStringView keyword);
QString conflict(QStringView keyword);
QString incomplete(QStringView verb);
QString unclosedQuote(QStringView token);
QString badQuote(QStringView token);
QString unknownType(QStringView type);
QString cannotOpen(QStringView path, QStringView reason);
QString unknownSurface(QStringView handle);
QString traceUnavailable(QStringView path, QStringView reason);
QString traceUnwritable(QStringView path, QStringView reason);

} // namespace mci::errortext
