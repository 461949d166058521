#include "platform/mci/Escape.h"

#include <algorithm>

namespace mci {

namespace {
constexpr qsizetype kShownTokenLength = 64;
// Longer than any file name the system allows: such a "name" is garbage and is cut.
constexpr qsizetype kLongestName = 255;

QString visible(QStringView text)
{
    QString out = text.toString();
    for (QChar &c : out) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
    }
    return out;
}
} // namespace

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
    QString out = visible(token.left(kShownTokenLength));
    if (token.size() > kShownTokenLength)
        out += QStringLiteral("…");
    return out;
}

QString shownPath(QStringView path)
{
    if (path.size() <= kShownTokenLength)
        return visible(path);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView name = path.mid(slash + 1);
    if (name.size() > kLongestName)
        return shownToken(path);
    // What is left of the length goes to the end of the folder, from a whole folder name on
    // where one starts inside it.
    const qsizetype room = std::max<qsizetype>(kShownTokenLength - name.size(), 0);
    QStringView folder = path.left(slash + 1).right(room);
    const qsizetype cut = folder.indexOf(u'/');
    folder = cut >= 0 ? folder.mid(cut) : QStringView(u"/");
    return QStringLiteral("…") + visible(folder) + visible(name);
}

} // namespace mci
