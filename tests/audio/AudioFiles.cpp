#include "tests/audio/AudioFiles.h"

#include "tests/support/AviCorpus.h"
#include "tests/support/RunProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace audiotest {

bool canEncode(const QString &encoder)
{
    static const QString list = QString::fromUtf8(
        runProgram(QStringLiteral("ffmpeg"), {"-hide_banner", "-encoders"}).output);
    return list.contains(QLatin1Char(' ') + encoder + QLatin1Char(' '));
}

namespace {

QStringList picture()
{
    return {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10"};
}

QStringList sound(Sound s)
{
    const QString expr =
        s == Sound::Sweep
            ? QStringLiteral("aevalsrc=exprs=0.5*sin(2*PI*(200*t+300*t*t)):s=44100")
            : QStringLiteral("aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=44100");
    return {"-f", "lavfi", "-i", expr};
}

} // namespace

QString aviWith(Sound s, const QString &encoder, const QString &options)
{
    if (!canEncode(encoder))
        return {};
    QStringList args = picture() + sound(s);
    args << "-t" << "4" << "-c:v" << "mjpeg" << "-c:a" << encoder;
    args << options.split(' ', Qt::SkipEmptyParts);
    return AviCorpus::generate(
        QStringLiteral("%1-%2").arg(s == Sound::Sweep ? "sweep" : "tone", encoder), args);
}

QString aviWithoutSound()
{
    return AviCorpus::generate(QStringLiteral("silent"),
                               picture() << "-t" << "2" << "-c:v" << "mjpeg");
}

QString wavFile()
{
    // A container of its own after the last input: the file is a WAV, whatever its name.
    return AviCorpus::generate(QStringLiteral("sweep-wav"), sound(Sound::Sweep)
                               << "-t" << "1" << "-c:a" << "pcm_s16le" << "-f" << "wav");
}

QString fileWithBytes(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(AviCorpus::dataDir());
    const QString path = AviCorpus::dataDir() + QStringLiteral("/audio-") + name;
    QFile f(path + QStringLiteral(".part") + QString::number(QCoreApplication::applicationPid()));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    f.close();
    QFile::remove(path);
    f.rename(path);
    return path;
}

} // namespace audiotest
