#include "display/TimeText.h"

namespace TimeText {

QString frames(qint32 position)
{
    return QString::number(position) + QLatin1String("Fm");
}

QString seconds(qint32 milliseconds)
{
    // Tenths of a second, the half rounded away from zero; 64 bits so that the extremes of
    // a 32-bit position cannot overflow on the way.
    const bool negative = milliseconds < 0;
    const qint64 magnitude = negative ? -qint64(milliseconds) : qint64(milliseconds);
    const qint64 tenths = (magnitude + 50) / 100;
    QString text = negative && tenths != 0 ? QStringLiteral("-") : QString();
    text += QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
    return text + QStringLiteral("秒");
}

} // namespace TimeText
