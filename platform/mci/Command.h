#pragma once

#include "platform/mci/Device.h"

#include <QString>
#include <variant>

namespace mci {

// A parsed command: what to do, typed, with the device it addresses.

struct OpenAction {
    QString path;
    QString type;  // lower case
    QString alias; // empty: the device is named by its path
};
struct CloseAction {};
struct PlayAction { PlayRequest request; };
struct PauseAction {};
struct StopAction {};
struct SeekAction { SeekRequest request; };
struct StatusAction { StatusItem item = StatusItem::Mode; };
struct SetTimeFormatAction { TimeFormat format = TimeFormat::Frames; };
struct SetSpeedAction { qint32 speed = 0; };
struct SetAudioAction { bool on = true; };
struct WhereSourceAction {};
struct PutWindowAction { Rect rect; };
struct UpdateAction {
    Rect rect;
    qint32 surface = 0; // a Surfaces handle
};
struct CaptureAction { QString path; };
struct CanPlayAction {};

// Visit an Action with one lambda per alternative.
template<class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template<class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

using Action = std::variant<OpenAction, CloseAction, PlayAction, PauseAction, StopAction,
                            SeekAction, StatusAction, SetTimeFormatAction, SetSpeedAction,
                            SetAudioAction, WhereSourceAction, PutWindowAction, UpdateAction,
                            CaptureAction, CanPlayAction>;

struct Command {
    Action action;
    QString device;   // the device addressed; empty for open and for "close all"
    bool all = false; // "close all"
    bool wait = false;
};

} // namespace mci
