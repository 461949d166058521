#include "platform/mci/CommandTable.h"

namespace mci {

namespace {

// Clause tags; each builder reads only its own.
enum Tag : int {
    TypeTag, AliasTag,
    FromTag, ToTag, ReverseTag, RepeatTag,
    SeekToTag,
    LengthTag, PositionTag, ModeTag, FrameRateTag, SpeedTag, TimeFormatTag, AudioTag,
    FramesSkippedTag,
    SourceTag, WindowAtTag, AtTag, HdcTag, AsTag, CanPlayTag,
};

const char *const kDefaultType = "avivideo";

Rect rectOf(const std::vector<Value> &v)
{
    return Rect{v[0].number, v[1].number, v[2].number, v[3].number};
}

Action buildOpen(const Matched &m)
{
    OpenAction open;
    open.path = m.subject;
    open.type = m.has(TypeTag) ? m.values(TypeTag)[0].text.toLower()
                               : QString::fromLatin1(kDefaultType);
    if (m.has(AliasTag))
        open.alias = m.values(AliasTag)[0].text;
    return open;
}

Action buildClose(const Matched &) { return CloseAction{}; }
Action buildPause(const Matched &) { return PauseAction{}; }
Action buildStop(const Matched &) { return StopAction{}; }
Action buildWhere(const Matched &) { return WhereSourceAction{}; }
Action buildCapability(const Matched &) { return CanPlayAction{}; }

Action buildPlay(const Matched &m)
{
    PlayAction play;
    if (m.has(FromTag))
        play.request.from = m.values(FromTag)[0].number;
    if (m.has(ToTag))
        play.request.to = m.values(ToTag)[0].number;
    play.request.reverse = m.has(ReverseTag);
    play.request.repeat = m.has(RepeatTag);
    return play;
}

Action buildSeek(const Matched &m)
{
    const Value &target = m.values(SeekToTag)[0];
    SeekAction seek;
    if (target.isNumber) {
        seek.request.kind = SeekRequest::Kind::To;
        seek.request.position = target.number;
    } else {
        seek.request.kind = target.text == QLatin1String("start") ? SeekRequest::Kind::Start
                                                                  : SeekRequest::Kind::End;
    }
    return seek;
}

Action buildStatus(const Matched &m)
{
    static const std::pair<int, StatusItem> items[] = {
        {LengthTag, StatusItem::Length},         {PositionTag, StatusItem::Position},
        {ModeTag, StatusItem::Mode},             {FrameRateTag, StatusItem::FrameRate},
        {SpeedTag, StatusItem::Speed},           {TimeFormatTag, StatusItem::TimeFormat},
        {AudioTag, StatusItem::Audio},           {FramesSkippedTag, StatusItem::FramesSkipped},
    };
    for (const auto &[tag, item] : items) {
        if (m.has(tag))
            return StatusAction{item};
    }
    return StatusAction{};
}

Action buildSet(const Matched &m)
{
    if (m.has(SpeedTag))
        return SetSpeedAction{m.values(SpeedTag)[0].number};
    if (m.has(AudioTag))
        return SetAudioAction{m.values(AudioTag)[0].text == QLatin1String("on")};
    return SetTimeFormatAction{m.values(TimeFormatTag)[0].text == QLatin1String("frames")
                                   ? TimeFormat::Frames
                                   : TimeFormat::Milliseconds};
}

Action buildPut(const Matched &m)
{
    return PutWindowAction{rectOf(m.values(WindowAtTag))};
}

Action buildUpdate(const Matched &m)
{
    return UpdateAction{rectOf(m.values(AtTag)), m.values(HdcTag)[0].number};
}

Action buildCapture(const Matched &m)
{
    return CaptureAction{m.values(AsTag)[0].text};
}

const ArgSpec kNumber{ArgKind::Number};
const std::vector<ArgSpec> kFourNumbers{kNumber, kNumber, kNumber, kNumber};

} // namespace

const std::vector<VerbSpec> &commandTable()
{
    static const std::vector<VerbSpec> table = {
        {"open", Subject::Path,
         {
             {TypeTag, {"type"}, {{ArgKind::Name}}},
             {AliasTag, {"alias"}, {{ArgKind::Name}}},
         },
         buildOpen},
        {"close", Subject::DeviceOrAll, {}, buildClose},
        {"play", Subject::Device,
         {
             {FromTag, {"from"}, {kNumber}},
             {ToTag, {"to"}, {kNumber}},
             {ReverseTag, {"reverse"}},
             {RepeatTag, {"repeat"}},
         },
         buildPlay},
        {"pause", Subject::Device, {}, buildPause},
        {"stop", Subject::Device, {}, buildStop},
        {"seek", Subject::Device,
         {
             {SeekToTag, {"to"}, {{ArgKind::NumberOrWord, {"start", "end"}}}, 1},
         },
         buildSeek},
        {"status", Subject::Device,
         {
             {LengthTag, {"length"}, {}, 1},
             {PositionTag, {"position"}, {}, 1},
             {ModeTag, {"mode"}, {}, 1},
             {FrameRateTag, {"frame", "rate"}, {}, 1},
             {SpeedTag, {"speed"}, {}, 1},
             {TimeFormatTag, {"time", "format"}, {}, 1},
             {AudioTag, {"audio"}, {}, 1},
             {FramesSkippedTag, {"frames", "skipped"}, {}, 1},
         },
         buildStatus},
        {"set", Subject::Device,
         {
             {TimeFormatTag, {"time", "format"},
              {{ArgKind::Word, {"ms", "milliseconds", "frames"}}}, 1},
             {SpeedTag, {"speed"}, {kNumber}, 1},
             {AudioTag, {"audio", "all"}, {{ArgKind::Word, {"on", "off"}}}, 1},
         },
         buildSet},
        {"where", Subject::Device, {{SourceTag, {"source"}, {}, 1}}, buildWhere},
        {"put", Subject::Device, {{WindowAtTag, {"window", "at"}, kFourNumbers, 1}}, buildPut},
        {"update", Subject::Device,
         {
             {AtTag, {"at"}, kFourNumbers, 1},
             {HdcTag, {"hdc"}, {kNumber}, 2},
         },
         buildUpdate},
        {"capture", Subject::Device, {{AsTag, {"as"}, {{ArgKind::Path}}, 1}}, buildCapture},
        {"capability", Subject::Device, {{CanPlayTag, {"can", "play"}, {}, 1}},
         buildCapability},
    };
    return table;
}

const VerbSpec *findVerb(QStringView name)
{
    for (const VerbSpec &verb : commandTable()) {
        if (name.compare(QLatin1String(verb.name), Qt::CaseInsensitive) == 0)
            return &verb;
    }
    return nullptr;
}

} // namespace mci
