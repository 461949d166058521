#include "platform/mci/ErrorText.h"

#include "platform/mci/Escape.h"

namespace mci::errortext {

namespace {

QString naming(const char *sentence, QStringView token)
{
    return QString::fromUtf8(sentence) + QStringLiteral(": ") + shownToken(token);
}

// Device names are paths more often than not: the name of the file stays whole.
QString namingPath(const char *sentence, QStringView path)
{
    return QString::fromUtf8(sentence) + QStringLiteral(": ") + shownPath(path);
}

} // namespace

QString noCommand() { return QStringLiteral("コマンドがありません"); }
QString outOfMemory() { return QStringLiteral("メモリが足りません"); }
QString tooLong(qsizetype limit)
{
    return QStringLiteral("コマンドが長すぎます（%1文字まで）").arg(limit);
}
QString unknownCommand(QStringView verb) { return naming("コマンドが分かりません", verb); }
QString noDeviceName(QStringView verb) { return naming("デバイス名がありません", verb); }
QString notOpen(QStringView name) { return namingPath("デバイスが開かれていません", name); }
QString alreadyOpen(QStringView name) { return namingPath("デバイスは既に開かれています", name); }
QString reservedName(QStringView name) { return naming("その名前は使えません", name); }
QString noPath(QStringView verb) { return naming("ファイル名がありません", verb); }
QString badNumber(QStringView token) { return naming("数値が正しくありません", token); }
QString missingValue(QStringView keyword) { return naming("値がありません", keyword); }
QString unknownWord(QStringView token) { return naming("語が分かりません", token); }
QString twice(QStringView keyword) { return naming("二度指定されています", keyword); }
QString conflict(QStringView keyword) { return naming("同時には指定できません", keyword); }
QString incomplete(QStringView verb) { return naming("指定が足りません", verb); }
QString unclosedQuote(QStringView token) { return naming("引用符が閉じていません", token); }
QString badQuote(QStringView token) { return naming("引用符の使い方が正しくありません", token); }
QString unknownType(QStringView type) { return naming("デバイスの種類が分かりません", type); }
QString unknownSurface(QStringView handle) { return naming("描画先が見つかりません", handle); }

QString cannotOpen(QStringView path, QStringView reason)
{
    QString text = namingPath("ファイルを開けません", path);
    if (!reason.isEmpty())
        text += QStringLiteral("（") + reason.toString() + QStringLiteral("）");
    return text;
}

QString traceUnavailable(QStringView path, QStringView reason)
{
    return namingPath("記録ファイルを開けません", path) + QStringLiteral("（") + reason.toString()
           + QStringLiteral("）");
}

QString traceUnwritable(QStringView path, QStringView reason)
{
    return naming("記録ファイルに書き込めません", path) + QStringLiteral("（") + reason.toString()
           + QStringLiteral("）");
}

} // namespace mci::errortext
