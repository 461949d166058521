#include "media/Catalogue.h"

namespace Catalogue {

QString plainDecimal(qint64 value)
{
    return QString::number(value);
}

QString playRange(const QString &path, qint32 rangeFrom, qint32 rangeTo)
{
    return QLatin1String("play ") + path + QLatin1String(" from ") + plainDecimal(rangeFrom)
           + QLatin1String(" to ") + plainDecimal(rangeTo);
}

QString playRangeRepeat(const QString &path, qint32 rangeFrom, qint32 rangeTo)
{
    return playRange(path, rangeFrom, rangeTo) + QLatin1String(" repeat");
}

QString playResume(const QString &path)
{
    return QLatin1String("play ") + path;
}

QString playReverseRange(const QString &path, qint32 rangeTo, qint32 rangeFrom)
{
    return QLatin1String("play ") + path + QLatin1String(" from ") + plainDecimal(rangeTo)
           + QLatin1String(" to ") + plainDecimal(rangeFrom) + QLatin1String(" reverse");
}

QString playReverseRangeRepeat(const QString &path, qint32 rangeTo, qint32 rangeFrom)
{
    return playReverseRange(path, rangeTo, rangeFrom) + QLatin1String(" repeat");
}

QString playReverseResume(const QString &path)
{
    return QLatin1String("play ") + path + QLatin1String(" reverse");
}

QString pause(const QString &path)
{
    return QLatin1String("pause ") + path;
}

QString stop(const QString &path)
{
    return QLatin1String("stop ") + path;
}

QString playToZero(const QString &path)
{
    return QLatin1String("play ") + path + QLatin1String(" to 0");
}

QString putWindow(const QString &path, qint64 videoLeft, qint64 videoTop, qint64 videoWidth,
                  const QString &putHeightText)
{
    return QLatin1String("put ") + path + QLatin1String(" window at ") + plainDecimal(videoLeft)
           + QLatin1Char(' ') + plainDecimal(videoTop) + QLatin1Char(' ')
           + plainDecimal(videoWidth) + QLatin1Char(' ') + putHeightText;
}

QString audioAllOff(const QString &path)
{
    return QLatin1String("set ") + path + QLatin1String(" audio all off");
}

QString audioAll(const QString &path, const QString &soundState)
{
    return QLatin1String("set ") + path + QLatin1String(" audio all ") + soundState;
}

QString speed(const QString &path, qint32 playbackSpeed)
{
    return QLatin1String("set ") + path + QLatin1String(" speed ") + plainDecimal(playbackSpeed);
}

QString timeFormatMs(const QString &path)
{
    return QLatin1String("set ") + path + QLatin1String(" time format ms");
}

QString timeFormatFrames(const QString &path)
{
    return QLatin1String("set ") + path + QLatin1String(" time format frames");
}

QString update(const QString &path, qint64 videoWidth, const QString &putHeightText,
               quint32 deviceContext)
{
    return QLatin1String("update ") + path + QLatin1String(" at 0 0 ") + plainDecimal(videoWidth)
           + QLatin1Char(' ') + putHeightText + QLatin1String(" hdc ")
           + plainDecimal(deviceContext);
}

QString whereSource(const QString &path)
{
    return QLatin1String("where ") + path + QLatin1String(" source");
}

QString open(const QString &file, const QString &type)
{
    QString command = QStringLiteral("open ");
    command += file.contains(QLatin1Char('"')) ? file : QLatin1Char('"') + file + QLatin1Char('"');
    if (!type.isEmpty())
        command += QStringLiteral(" type ") + type;
    return command;
}

QString close(const QString &path)
{
    return QLatin1String("close ") + path;
}

QString seekTo(const QString &path, qint32 to)
{
    return QLatin1String("seek ") + path + QLatin1String(" to ") + plainDecimal(to);
}

QString canPlay(const QString &path)
{
    return QLatin1String("capability ") + path + QLatin1String(" can play");
}

QString status(const QString &path, const QString &item)
{
    return QLatin1String("status ") + path + QLatin1Char(' ') + item;
}

} // namespace Catalogue
