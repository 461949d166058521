#pragma once

#include <QStringView>
#include <QtGlobal>
#include <optional>

namespace mci {

// A number as commands write it: decimal digits with an optional leading "-", nothing else,
// and within a signed 32-bit integer. Anything else is no number.
std::optional<qint32> parseInt32(QStringView token);

} // namespace mci
