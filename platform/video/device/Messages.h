#pragma once

#include "platform/video/OpenError.h"

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
// Why a file did not open; empty for a reason that has no words of its own.
inline QString openFailure(const OpenError &error)
{
    using Why = OpenError::Why;
    switch (error.why) {
    case Why::None: return {};
    case Why::NotFound: return QStringLiteral("ファイルが見つかりません");
    case Why::LinkLoop: return QStringLiteral("リンクが循環しています");
    case Why::NameTooLong: return nameTooLong();
    case Why::Unreadable: return QStringLiteral("ファイルを読めません");
    case Why::Folder: return QStringLiteral("フォルダです");
    case Why::NotRegularFile: return QStringLiteral("通常のファイルではありません");
    case Why::Empty: return QStringLiteral("ファイルが空です");
    case Why::TooManyFilesOpen: return QStringLiteral("開いているファイルが多すぎます");
    case Why::OutOfMemory: return outOfMemory();
    case Why::NotVideo: return QStringLiteral("動画ファイルとして読めません");
    case Why::NoVideoStream: return QStringLiteral("映像が入っていません");
    case Why::SizeUnsupported:
        return QStringLiteral("映像の大きさを扱えません（%1×%2）").arg(error.width).arg(error.height);
    case Why::CodecUnsupported:
        return error.codec.isEmpty()
            ? QStringLiteral("この映像の圧縮形式には対応していません")
            : QStringLiteral("この映像の圧縮形式には対応していません（%1）").arg(error.codec);
    case Why::DecoderUnusable: return QStringLiteral("映像のデコーダーを開けません");
    case Why::NoFrames: return QStringLiteral("映像のフレームが見つかりません");
    case Why::Cancelled: return QStringLiteral("開くのを取りやめました");
    case Why::Damaged: return QStringLiteral("ファイルが壊れています");
    case Why::Undecodable: return QStringLiteral("映像を読めません");
    case Why::SoundUnopenable: return QStringLiteral("ファイルを開けません");
    case Why::SoundNotInVideo: return QStringLiteral("動画ファイルではありません");
    case Why::NoSound: return QStringLiteral("音声がありません");
    case Why::SoundUnsupported:
        return QStringLiteral("音声を再生できません（対応していない形式です）");
    }
    return {};
}
inline QString cannotOpen(const OpenError &error)
{
    const QString reason = openFailure(error);
    return reason.isEmpty() ? QStringLiteral("ファイルを開けません") : reason;
}

} // namespace video::messages
