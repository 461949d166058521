#pragma once

#include <QString>

// Every message the video device gives the user, in one place.
namespace video::messages {

inline QString positionOutOfRange() { return QStringLiteral("位置が範囲外です"); }
inline QString rangeReversed()
{
    return QStringLiteral("再生範囲の開始位置が終了位置を越えています");
}
inline QString speedOutOfRange()
{
    return QStringLiteral("速度は1から3000の範囲で指定してください");
}
inline QString badWindowPlacement()
{
    return QStringLiteral("ウィンドウの位置または大きさが正しくありません");
}
inline QString cannotPlay() { return QStringLiteral("この映像は再生できません"); }
inline QString frameUnreadable() { return QStringLiteral("フレームを読み込めません"); }
inline QString playStoppedUnreadable()
{
    return QStringLiteral("フレームを読み込めないため再生を止めました");
}
inline QString fileChanged()
{
    return QStringLiteral("ファイルが開いた後で変わったため、このフレームはもう読めません");
}
inline QString outOfMemory() { return QStringLiteral("メモリが足りません"); }
inline QString surfaceUnusable() { return QStringLiteral("描画先に描けません"); }
inline QString cannotSave(const QString &path, const QString &reason)
{
    return QStringLiteral("画像を保存できません: %1（%2）").arg(path, reason);
}
inline QString nameTooLong() { return QStringLiteral("ファイル名が長すぎます"); }
inline QString cannotOpen(const QString &reason)
{
    return reason.isEmpty() ? QStringLiteral("ファイルを開けません") : reason;
}

} // namespace video::messages
