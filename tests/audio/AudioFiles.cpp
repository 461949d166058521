#include "tests/audio/AudioFiles.h"

#include "tests/support/RunProgram.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace audiotest {

namespace {

QString dataDir()
{
    const QString dir = QStringLiteral(KURIMO_TEST_DATA_DIR "/audio");
    QDir().mkpath(dir);
    return dir;
}

} // namespace

bool canEncode(const QString &encoder)
{
    static const QString list = QString::fromUtf8(
        runProgram(QStringLiteral("ffmpeg"), {"-hide_banner", "-encoders"}).output);
    return list.contains(QLatin1Char(' ') + encoder + QLatin1Char(' '));
}

namespace {

// Runs ffmpeg with these arguments (output last, added here) unless the file exists.
QString make(const QString &stem, const QString &suffix, const QStringList &args)
{
    const QByteArray key = QCryptographicHash::hash(args.join(' ').toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(10);
    const QString path = dataDir() + '/' + stem + '-' + QString::fromLatin1(key) + suffix;
    if (QFile::exists(path))
        return path;
    const QString temp =
        path + QStringLiteral(".part") + QString::number(QCoreApplication::applicationPid());
    QStringList all{"-nostdin", "-loglevel", "error", "-y"};
    all << args << temp;
    const ProgramRun ffmpeg = runProgram(QStringLiteral("ffmpeg"), all);
    if (ffmpeg.exitCode != 0) {
        qWarning("ffmpeg failed: %s", ffmpeg.output.constData());
        QFile::remove(temp);
        return {};
    }
    QFile::remove(path);
    QFile::rename(temp, path);
    return path;
}

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
    args << options.split(' ', Qt::SkipEmptyParts) << "-f" << "avi";
    return make(QStringLiteral("%1-%2").arg(s == Sound::Sweep ? "sweep" : "tone", encoder),
                QStringLiteral(".avi"), args);
}

QString aviWithoutSound()
{
    QStringList args = picture();
    args << "-t" << "2" << "-c:v" << "mjpeg" << "-f" << "avi";
    return make(QStringLiteral("silent"), QStringLiteral(".avi"), args);
}

QString wavFile()
{
    QStringList args = sound(Sound::Sweep);
    args << "-t" << "1" << "-c:a" << "pcm_s16le" << "-f" << "wav";
    return make(QStringLiteral("sweep"), QStringLiteral(".wav"), args);
}

QString fileWithBytes(const QString &name, const QByteArray &bytes)
{
    const QString path = dataDir() + '/' + name;
    QFile f(path + QStringLiteral(".part") + QString::number(QCoreApplication::applicationPid()));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    f.close();
    QFile::remove(path);
    f.rename(path);
    return path;
}

} // namespace audiotest
