#pragma once

#include <QImage>
#include <QString>
#include <functional>

class QIODevice;

namespace capture {

// Writes an image to an open device; false when the image could not be written whole.
using BitmapWriter = std::function<bool(const QImage &, QIODevice &)>;

// The image as a Windows bitmap (BMP).
bool writeBmp(const QImage &image, QIODevice &device);

// Saves the image as a BMP file under the path. It is written to a temporary file beside the
// path and renamed over it only when complete, so a failed save (missing folder, a folder of
// that name, no space, a write that breaks off) leaves any existing file as it was. On
// failure returns false and puts a short Japanese reason into *reason.
bool saveBitmapFile(const QImage &image, const QString &path, QString *reason,
                    const BitmapWriter &writer = writeBmp);

} // namespace capture
