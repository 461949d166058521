#include "platform/video/audio/AudioDecoder.h"
#include "platform/video/device/Opening.h"
#include "tests/audio/AudioFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using video::audio::AudioDecoder;
using video::audio::OutputFormat;
using video::audio::StartError;
using namespace audiotest;

namespace {

// Everything the decoder gives from a time at a speed, in whole frames.
std::vector<int16_t> decodeAll(AudioDecoder &d, double from, int speed, OutputFormat format)
{
    StartError error = StartError::None;
    EXPECT_TRUE(d.begin(from, speed, format, &error)) << int(error);
    std::vector<int16_t> all;
    std::vector<int16_t> chunk(size_t(1000) * size_t(format.channels));
    // Far more than any test file holds: a decoder that never ends fails instead of hanging.
    const size_t limit = size_t(format.rate) * size_t(format.channels) * 60;
    for (int got; (got = d.pull(chunk.data(), 1000)) > 0 && all.size() <= limit;)
        all.insert(all.end(), chunk.begin(), chunk.begin() + got * format.channels);
    return all;
}

// Frequency of one channel over frames [first, last), from its upward zero crossings.
double frequencyHz(const std::vector<int16_t> &s, int channels, int channel, size_t first,
                   size_t last, int rate)
{
    size_t firstCross = 0, lastCross = 0;
    int crossings = 0;
    for (size_t i = first + 1; i < last; ++i) {
        const int16_t before = s[(i - 1) * channels + channel];
        const int16_t now = s[i * channels + channel];
        if (before < 0 && now >= 0) {
            if (crossings++ == 0)
                firstCross = i;
            lastCross = i;
        }
    }
    return crossings < 2 ? 0 : double(crossings - 1) * rate / double(lastCross - firstCross);
}

std::unique_ptr<AudioDecoder> openOrFail(const QString &path)
{
    video::OpenError error;
    auto d = AudioDecoder::open(path, &error);
    EXPECT_TRUE(d) << path.toStdString() << ": " << int(error.why);
    return d;
}

struct CodecCase {
    const char *name;
    const char *encoder;
    const char *options;
    const char *decoder;
    bool lossless; // decoding from any block gives the very same samples
};

const CodecCase kCodecs[] = {
    {"pcm_s16le", "pcm_s16le", "", "pcm_s16le", true},
    {"pcm_u8", "pcm_u8", "", "pcm_u8", true},
    {"adpcm_ima_wav", "adpcm_ima_wav", "", "adpcm_ima_wav", true},
    {"adpcm_ms", "adpcm_ms", "", "adpcm_ms", true},
    {"mp3", "libmp3lame", "", "mp3", false},
    {"mp3_vbr", "libmp3lame", "-q:a 4", "mp3", false}, // variable bit rate
    {"mp2", "mp2", "", "mp2", false},
};

class EveryCodec : public ::testing::TestWithParam<CodecCase> {
protected:
    void SetUp() override
    {
        if (!canEncode(GetParam().encoder))
            GTEST_SKIP() << "this ffmpeg has no " << GetParam().encoder << " encoder";
        d = openOrFail(aviWith(Sound::Sweep, GetParam().encoder, GetParam().options));
        ASSERT_TRUE(d);
    }
    std::unique_ptr<AudioDecoder> d;
};

} // namespace

// Each codec decodes to the whole sweep, resampled to the device's rate: right length, and
// the right pitch at two places.
TEST_P(EveryCodec, DecodesTheWholeSound)
{
    EXPECT_EQ(d->codecName().toStdString(), GetParam().decoder);
    EXPECT_EQ(d->sourceRate(), 44100);

    const OutputFormat out{48000, 2};
    const auto s = decodeAll(*d, 0, 1000, out);
    const double seconds = double(s.size()) / out.channels / out.rate;
    EXPECT_NEAR(seconds, 4.0, 0.1);
    for (double t : {1.0, 3.0}) {
        const auto at = size_t(t * out.rate);
        // Lossy encoders put up to ~50 ms of delay in front of the sound; the sweep rises
        // 600 Hz per second.
        const double tolerance = GetParam().lossless ? 15 : 40;
        EXPECT_NEAR(frequencyHz(s, 2, 1, at - 2400, at + 2400, out.rate), sweepHz(t), tolerance)
            << t;
    }
}

// Starting at a time gives what a decode from the start gives at that time: the samples
// before the time in the packet the seek lands on are dropped.
TEST_P(EveryCodec, StartsExactlyAtTheAskedTime)
{
    const OutputFormat out{44100, 1}; // the source's own rate: no resampling to blur samples
    const auto whole = decodeAll(*d, 0, 1000, out);

    for (double from : {1.0, 1.2345, 2.71, 3.9}) {
        const auto part = decodeAll(*d, from, 1000, out);
        const auto offset = size_t(std::llround(from * out.rate));
        ASSERT_GT(whole.size(), offset);
        EXPECT_NEAR(double(part.size()), double(whole.size() - offset), 2) << from;
        const size_t n = std::min({part.size(), whole.size() - offset, size_t(out.rate / 2)});
        int worst = 0;
        for (size_t i = 0; i < n; ++i)
            worst = std::max(worst, std::abs(int(part[i]) - int(whole[offset + i])));
        // Of 16384 (half scale).
        EXPECT_LE(worst, GetParam().lossless ? 0 : 599) << "from " << from;
    }
}

// A start past the end gives nothing (at most what the filter held), bad speeds and formats
// are refused; the decoder works on afterwards.
TEST_P(EveryCodec, StartPastTheEndAndBadStartsGiveNothing)
{
    EXPECT_TRUE(decodeAll(*d, 10.0, 1000, {48000, 2}).empty());
    EXPECT_TRUE(decodeAll(*d, 1e300, 1000, {48000, 2}).empty());
    EXPECT_TRUE(decodeAll(*d, 10.0, 2000, {48000, 2}).size() < 4800);
    StartError error = StartError::None;
    EXPECT_FALSE(d->begin(0, 249, {48000, 2}, &error));
    EXPECT_EQ(error, StartError::Speed);
    EXPECT_FALSE(d->begin(0, 3001, {48000, 2}, &error));
    EXPECT_FALSE(d->begin(0, 1000, {0, 2}, &error));
    int16_t buffer[64];
    EXPECT_EQ(d->pull(buffer, 32), 0) << "nothing to hear after a refused start";
    EXPECT_GT(decodeAll(*d, 3.5, 1000, {48000, 2}).size(), size_t(2 * 48000 * 0.45));
}

INSTANTIATE_TEST_SUITE_P(Audio, EveryCodec, ::testing::ValuesIn(kCodecs),
                         [](const auto &info) { return std::string(info.param.name); });

class Speeds : public ::testing::TestWithParam<int> {};

// At any speed the sound lasts the media time divided by the speed and a 440 Hz tone stays
// 440 Hz in both channels; a start at a time hears the sweep at that time, with its pitch.
TEST_P(Speeds, StretchesTimeKeepsPitchAndStartsAtTheRightPlace)
{
    const int speed = GetParam();
    auto tone = openOrFail(aviWith(Sound::Tone, "pcm_s16le"));
    auto sweep = openOrFail(aviWith(Sound::Sweep, "pcm_s16le"));
    ASSERT_TRUE(tone && sweep);
    const OutputFormat out{48000, 2};
    const auto s = decodeAll(*tone, 0, speed, out);
    const double frames = double(s.size()) / out.channels;
    const double expected = 4.0 * out.rate * 1000 / speed;
    EXPECT_NEAR(frames, expected, expected * 0.02);
    const auto quarter = size_t(frames / 4);
    for (int channel : {0, 1})
        EXPECT_NEAR(frequencyHz(s, 2, channel, quarter, 3 * quarter, out.rate), 440, 440 * 0.02);

    // The first 0.1 s heard from 2 s on holds media time from 2 s to 2 s + 0.1 s * speed.
    const double window = 0.1;
    const double hz = frequencyHz(decodeAll(*sweep, 2.0, speed, out), 2, 0, 0,
        size_t(window * out.rate), out.rate);
    EXPECT_NEAR(sweepTimeAt(hz), 2.0 + window / 2 * speed / 1000, 0.05) << hz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Audio, Speeds, ::testing::Values(250, 500, 1000, 2000, 3000),
                         [](const auto &info) { return "speed" + std::to_string(info.param); });

// A file cut short plays what it holds and then ends (the files that cannot play at all are
// the bad-input test's).
TEST(AudioDecoder, EndsAFileCutShort)
{
    QTemporaryDir dir;
    const QString cut = dir.filePath("truncated.avi");
    const QByteArray bytes = ClipCorpus::readAll(aviWith(Sound::Sweep, "pcm_s16le"));
    ASSERT_TRUE(ClipCorpus::writeAll(cut, bytes.left(bytes.size() * 6 / 10)));
    auto d = openOrFail(cut);
    ASSERT_TRUE(d);
    const double seconds = double(decodeAll(*d, 0, 1000, {48000, 2}).size()) / 2 / 48000;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 3.5);
    EXPECT_TRUE(decodeAll(*d, 3.0, 1000, {48000, 2}).size() < 48000 * 2 / 2);
}

// A TV recording of two programmes whose first programme's picture cannot be decoded (its
// video packets hold nothing but stuffing): the second programme is shown, and its sound is
// the one taken, not the file's first audio stream, which is the first programme's.
TEST(AudioDecoder, TakesTheSoundOfTheProgrammeShown)
{
    QString why;
    const QString made = ClipCorpus::generate(QStringLiteral("two-programmes-sound"),
        {"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=2", "-f", "lavfi", "-i",
            "sine=frequency=880:duration=2", "-f", "lavfi", "-i",
            "sine=frequency=440:duration=2", "-map", "0:v", "-map", "1:a", "-map", "0:v",
            "-map", "2:a", "-c:v", "mpeg2video", "-c:a:0", "mp2", "-c:a:1", "ac3", "-program",
            "title=first:st=0:st=1", "-program", "title=second:st=2:st=3", "-f", "mpegts"},
        &why);
    ASSERT_FALSE(made.isEmpty()) << why.toStdString();
    QByteArray bytes = ClipCorpus::readAll(made);
    int blanked = 0;
    for (qsizetype at = 0; at + 188 <= bytes.size(); at += 188) {
        const auto *p = reinterpret_cast<const uchar *>(bytes.constData() + at);
        if (p[0] != 0x47 || ((p[1] & 0x1f) << 8 | p[2]) != 0x100)
            continue;
        // After the PES header of a packet that starts one, else after the TS header.
        qsizetype from = at + ((p[3] & 0x20) ? 5 + p[4] : 4);
        if (p[1] & 0x40)
            from += 9 + uchar(bytes[from + 8]);
        for (qsizetype i = from; i < at + 188; ++i)
            bytes[i] = char(0xff);
        ++blanked;
    }
    ASSERT_GT(blanked, 0);
    QTemporaryDir dir;
    const QString path = dir.filePath("two-programmes.ts");
    ASSERT_TRUE(ClipCorpus::writeAll(path, bytes));
    QString error;
    const auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    video::OpenError reason;
    const auto d = AudioDecoder::open(path, &reason, source->info().streamId);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->codecName(), "ac3");
}

// A device takes the sound of a file only where the picture's open found a sound stream, and
// does not look for one otherwise; a Matroska file opened again takes what it knows of its
// streams from the index cache, and must find its sound all the same.
TEST(AudioDecoder, TheDeviceTakesTheSoundWhereTheFileHasOne)
{
    const QStringList picture{"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=2"};
    const QStringList sound{"-f", "lavfi", "-i", "sine=frequency=440:duration=2"};
    const struct {
        const char *name;
        QStringList made;
        bool sound;
    } cases[] = {
        {"sound-live-mkv", picture + sound + QStringList{"-c:v", "mpeg4", "-c:a", "pcm_s16le",
                                                 "-live", "1", "-f", "matroska"},
            true},
        {"silent-live-mkv", picture + QStringList{"-c:v", "mpeg4", "-live", "1", "-f", "matroska"},
            false},
        {"sound-ts", picture + sound + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2", "-f",
                                           "mpegts"},
            true},
    };
    for (const auto &c : cases) {
        QString why;
        const QString path = ClipCorpus::generate(QString::fromLatin1(c.name), c.made, &why);
        ASSERT_FALSE(path.isEmpty()) << why.toStdString();
        const QTemporaryDir cache;
        video::DecodeOptions options;
        options.indexCache = cache.filePath(QStringLiteral("index"));
        for (const char *open : {"fresh", "from the index cache"}) {
            QString error;
            const auto source = video::openFrameSource(path, &error, options);
            ASSERT_TRUE(source) << c.name << ": " << error.toStdString();
            video::OpenError reason;
            EXPECT_EQ(bool(video::openSoundOf(path, *source, &reason)), c.sound)
                << c.name << ", " << open;
        }
        EXPECT_FALSE(QDir(options.indexCache).isEmpty()) << c.name;
    }
}
