// Makes the desktop icons from the program's own 32x32 icon: PNGs at the usual hicolor sizes
// and an SVG that draws the same pixels as squares, so it scales without blur.
// Usage: make-icons ICON.png OUTDIR NAME
//   makes OUTDIR/NxN/apps/NAME.png and OUTDIR/scalable/apps/NAME.svg

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextStream>
#include <cstdio>

namespace {

const int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Pixel art stays crisp: whole multiples repeat pixels; other sizes above the source are
// repeated up to the next whole multiple and smoothed down from there.
QImage scaled(const QImage &icon, int size)
{
    const int source = icon.width();
    if (size == source)
        return icon;
    if (size < source)
        return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int multiple = (size + source - 1) / source * source;
    const QImage big = icon.scaled(multiple, multiple, Qt::IgnoreAspectRatio,
                                   Qt::FastTransformation);
    return multiple == size
               ? big
               : big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// One rectangle per run of equal pixels in a row; fully transparent pixels are left out.
QByteArray svg(const QImage &icon)
{
    QByteArray out;
    QTextStream s(&out);
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << icon.width() << "\" height=\""
      << icon.height() << "\" viewBox=\"0 0 " << icon.width() << ' ' << icon.height()
      << "\" shape-rendering=\"crispEdges\">\n";
    for (int y = 0; y < icon.height(); ++y) {
        int x = 0;
        while (x < icon.width()) {
            const QRgb pixel = icon.pixel(x, y);
            int end = x + 1;
            while (end < icon.width() && icon.pixel(end, y) == pixel)
                ++end;
            if (qAlpha(pixel) != 0) {
                s << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << end - x
                  << "\" height=\"1\" fill=\"" << QColor(pixel).name() << '"';
                if (qAlpha(pixel) != 255)
                    s << " fill-opacity=\"" << QString::number(qAlpha(pixel) / 255.0, 'f', 3)
                      << '"';
                s << "/>\n";
            }
            x = end;
        }
    }
    s << "</svg>\n";
    s.flush();
    return out;
}

bool write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fputs("usage: make-icons ICON.png OUTDIR NAME\n", stderr);
        return 2;
    }
    const QImage icon = QImage(QFile::decodeName(argv[1])).convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull() || icon.width() != icon.height()) {
        std::fprintf(stderr, "make-icons: not a square picture: %s\n", argv[1]);
        return 1;
    }
    const QString out = QFile::decodeName(argv[2]);
    const QString name = QFile::decodeName(argv[3]);
    for (const int size : kSizes) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !scaled(icon, size).save(dir + '/' + name + ".png")) {
            std::fprintf(stderr, "make-icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    const QString scalable = out + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(scalable) || !write(scalable + '/' + name + ".svg", svg(icon))) {
        std::fprintf(stderr, "make-icons: cannot write %s\n", qPrintable(scalable));
        return 1;
    }
    return 0;
}
