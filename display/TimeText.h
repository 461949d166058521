#pragma once

#include <QString>
#include <QtGlobal>

// The two forms of the time label.
namespace TimeText {

// A frame number as "####0Fm": every digit, no separators ("0Fm", "123456Fm").
QString frames(qint32 position);

// Milliseconds as seconds, "###0.0秒": one decimal, a half rounding up. The rounding works on
// the whole milliseconds, so 350 ms is 0.4秒 although 0.35 has no exact binary form.
QString seconds(qint32 milliseconds);

} // namespace TimeText
