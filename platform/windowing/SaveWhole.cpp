#include "platform/windowing/SaveWhole.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace windowing {

bool saveWhole(const QString &path, const ContentWriter &write, QString *reason)
{
    // The rename at the end replaces whatever has the name: without this check a device
    // such as /dev/full, or a pipe another program reads, would become a plain file.
    // QFileInfo follows symbolic links, so a link to a regular file passes.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        *reason = target.isDir() ? QStringLiteral("同じ名前のフォルダがあります")
                                 : QStringLiteral("通常のファイルではないため置き換えません");
        return false;
    }
    if (!target.absoluteDir().exists()) {
        *reason = QStringLiteral("保存先のフォルダがありません");
        return false;
    }
    QSaveFile file(path);
    // Never fall back to writing the target in place: that is what could leave it half done.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = QStringLiteral("ファイルを作れませんでした");
        return false;
    }
    // Without a commit the temporary file is removed and the target stays untouched.
    if (!write(file) || !file.commit()) {
        *reason = QStringLiteral("書き込めませんでした");
        return false;
    }
    return true;
}

} // namespace windowing
