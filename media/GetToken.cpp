#include "media/GetToken.h"

QString GetToken(const QString &text, int n, const QString &delimiter)
{
    // Positions are 1-based as the algorithm is stated; wide types so that any length and
    // any n are safe.
    const qint64 wanted = qint64(n) - 1;
    qint64 i = 1;
    qsizetype p = 1;
    while (i <= wanted) {
        const qsizetype f = text.indexOf(delimiter, p - 1);
        if (f < 0)
            break;
        p = f + 1 + 1; // one past the start of the delimiter, 1-based
        ++i;
    }
    const qsizetype f = text.indexOf(delimiter, p - 1);
    if (f >= 0)
        return text.mid(p - 1, f - (p - 1));
    if (i > wanted)
        return p - 1 < text.size() ? text.mid(p - 1) : QString();
    return QString();
}
