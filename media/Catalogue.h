#pragma once

#include <QString>
#include <QtGlobal>

// Every text command the panel sends, one function per command, and the only place where
// command strings are built, those of the multimedia control included. Pieces are joined with
// nothing in between; the path goes in as it stands (no quotes, but in open); numbers in plain
// decimal ("-" only when negative).
namespace Catalogue {

QString plainDecimal(qint64 value);

// 1, 2: forward range play, once or repeated.
QString playRange(const QString &path, qint32 rangeFrom, qint32 rangeTo);
QString playRangeRepeat(const QString &path, qint32 rangeFrom, qint32 rangeTo);
// 3: resume forward after a pause.
QString playResume(const QString &path);
// 4, 5: reverse range play from the end of the range down to its start, once or repeated.
QString playReverseRange(const QString &path, qint32 rangeTo, qint32 rangeFrom);
QString playReverseRangeRepeat(const QString &path, qint32 rangeTo, qint32 rangeFrom);
// 6: resume backwards after a pause.
QString playReverseResume(const QString &path);
// 7, 8
QString pause(const QString &path);
QString stop(const QString &path);
// 9: prime a freshly opened device.
QString playToZero(const QString &path);
// 10: place the device window.
QString putWindow(const QString &path, qint64 videoLeft, qint64 videoTop, qint64 videoWidth,
                  const QString &putHeightText);
// 11, 12: sound.
QString audioAllOff(const QString &path);
QString audioAll(const QString &path, const QString &soundState);
// 13: speed in thousandths of normal.
QString speed(const QString &path, qint32 playbackSpeed);
// 14, 15: time format around a seconds read.
QString timeFormatMs(const QString &path);
QString timeFormatFrames(const QString &path);
// 16: draw the current frame into a drawing surface.
QString update(const QString &path, qint64 videoWidth, const QString &putHeightText,
               quint32 deviceContext);
// 17: the source rectangle; its reply is read.
QString whereSource(const QString &path);

// The multimedia control's own commands (InterpreterControl), each sent on its own.
// Opens a file of a type (none: the default type); the file is quoted so that blanks and
// keyword-like words in it stay in the path, unless it holds a double quote itself.
QString open(const QString &file, const QString &type);
QString close(const QString &path);
QString seekTo(const QString &path, qint32 to);
QString canPlay(const QString &path);
// A status item whose reply is read: "position", "length".
QString status(const QString &path, const QString &item);

} // namespace Catalogue
