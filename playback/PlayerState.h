#pragma once

#include <QString>
#include <QtGlobal>

// The player's whole working state: one record that every handler of the panel reads and
// writes directly. Positions are frames; the video window's geometry is screen pixels.
// At creation everything is empty or 0; the panel's load step gives the defaults.
struct PlayerState {
    // Transport pair: what each play button last did. 0 idle, 1 playing its way, 2 paused.
    int ForwardPlayState = 0;
    int ReversePlayState = 0;
    qint32 RangeFrom = 0;
    qint32 RangeTo = 0;
    int TimeDisplayMode = 0;      // 0 frames, otherwise seconds
    int WindowHeightMargin = 0;   // pixels added to the picture for the device window's title
    int RepeatMode = 0;           // 0 once, otherwise round and round
    int RewindState = 0;          // 0 idle, 1 winding, 2 stop requested
    qint16 FastForwardState = 0;  // the same for fast forward
    qint32 PlaybackSpeed = 0;     // thousandths of normal speed
    QString SoundState;           // "on" or "off"
    qint32 SourceWidth = 0;
    qint32 SourceHeight = 0;
    // Whole numbers kept as floating point: the centring works in doubles and rounds down.
    double VideoLeft = 0;
    double VideoTop = 0;
    double VideoWidth = 0;
    double VideoHeight = 0;
    QString PutHeightText;        // decimal text of VideoHeight + WindowHeightMargin
};
