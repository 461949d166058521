#include "platform/mci/Number.h"

#include <limits>

namespace mci {

std::optional<qint32> parseInt32(QStringView token)
{
    const bool negative = token.startsWith(u'-');
    const QStringView digits = negative ? token.mid(1) : token;
    if (digits.isEmpty())
        return std::nullopt;
    // The magnitude of the most negative value is one more than the largest positive one.
    const qint64 limit = negative ? -qint64(std::numeric_limits<qint32>::min())
                                  : qint64(std::numeric_limits<qint32>::max());
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return qint32(negative ? -value : value);
}

} // namespace mci
