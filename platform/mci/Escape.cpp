#include "platform/mci/Escape.h"

namespace mci {

namespace {
constexpr qsizetype kShownTokenLength = 64;
}

QString escapeLine(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\t': out += QLatin1String("\\t"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\0': out += QLatin1String("\\0"); break;
        default: out += c;
        }
    }
    return out;
}

QString shownToken(QStringView token)
{
    QString out = token.left(kShownTokenLength).toString();
    for (QChar &c : out) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
    }
    if (token.size() > kShownTokenLength)
        out += QStringLiteral("…");
    return out;
}

} // namespace mci
