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

// Saves the image as a BMP file under the path, whole or not at all, replacing only a
// regular file (windowing::saveWhole). On failure returns false and puts a short Japanese
// reason into *reason.
bool saveBitmapFile(const QImage &image, const QString &path, QString *reason,
                    const BitmapWriter &writer = writeBmp);

} // namespace capture
