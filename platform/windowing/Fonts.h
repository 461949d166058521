#pragma once

#include <QString>

namespace windowing {

// The font names the forms are designed with. They stay in the code as they are; at start-up
// they are mapped onto Japanese fonts installed here.
inline const QString kGothicFont = QStringLiteral("ＭＳ ゴシック");
inline const QString kMinchoFont = QStringLiteral("ＭＳ 明朝");

// Map the design font names onto installed fonts (IPA Gothic and Mincho where present).
void installFontSubstitutes();

} // namespace windowing
