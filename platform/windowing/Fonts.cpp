#include "platform/windowing/Fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace windowing {

namespace {

QStringList installed(const QStringList &candidates)
{
    const QStringList families = QFontDatabase::families();
    QStringList found;
    for (const QString &name : candidates)
        if (families.contains(name, Qt::CaseInsensitive))
            found << name;
    return found;
}

} // namespace

void installFontSubstitutes()
{
    QFont::insertSubstitutions(kGothicFont, installed({QStringLiteral("IPAGothic"),
                                                       QStringLiteral("IPAPGothic"),
                                                       QStringLiteral("Noto Sans CJK JP")}));
    QFont::insertSubstitutions(kMinchoFont, installed({QStringLiteral("IPAMincho"),
                                                       QStringLiteral("IPAPMincho"),
                                                       QStringLiteral("Noto Serif CJK JP")}));
}

} // namespace windowing
