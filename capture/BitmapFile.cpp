#include "capture/BitmapFile.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace capture {

bool writeBmp(const QImage &image, QIODevice &device)
{
    QImageWriter writer(&device, "bmp");
    return writer.write(image);
}

bool saveBitmapFile(const QImage &image, const QString &path, QString *reason,
                    const BitmapWriter &writer)
{
    const QFileInfo target(path);
    if (target.isDir()) {
        *reason = QStringLiteral("同じ名前のフォルダがあります。");
        return false;
    }
    if (!target.absoluteDir().exists()) {
        *reason = QStringLiteral("保存先のフォルダがありません。");
        return false;
    }
    QSaveFile file(path);
    // Never fall back to writing the target in place: that is what could leave it half done.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = QStringLiteral("ファイルを作れませんでした。");
        return false;
    }
    // Without a commit the temporary file is removed and the target stays untouched.
    if (!writer(image, file) || !file.commit()) {
        *reason = QStringLiteral("書き込めませんでした。");
        return false;
    }
    return true;
}

} // namespace capture
