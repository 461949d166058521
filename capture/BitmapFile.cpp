#include "capture/BitmapFile.h"

#include "platform/windowing/SaveWhole.h"

#include <QImageWriter>

namespace capture {

bool writeBmp(const QImage &image, QIODevice &device)
{
    QImageWriter writer(&device, "bmp");
    return writer.write(image);
}

bool saveBitmapFile(const QImage &image, const QString &path, QString *reason,
                    const BitmapWriter &writer)
{
    return windowing::saveWhole(
        path, [&](QIODevice &device) { return writer(image, device); }, reason);
}

} // namespace capture
