#pragma once

#include "platform/video/FFmpegHandles.h"

#include <QString>

#include <vector>

// What libavcodec alone needs to show a picture: the decode from the keyframe before it to
// the picture, with every picture shown before it that nothing references left out
// (skip_frame), the frame threads Kurimo's decoder would run, and the file's video packets
// already in memory, so neither the disk, the demuxer nor any planning of ours is in it.
// A seek of ours is compared with this, target by target.
class DecodingFloor {
public:
    // Reads the file's video packets and decodes them all once in order: that learns which
    // packet each position shows and warms the decoder. False, with the reason, when the
    // file cannot be decoded or its pictures do not fit the positions.
    bool load(const QString &path, int positions, QString *error);
    // Milliseconds from a flushed decoder to the picture at the position out of it; negative
    // when it never came out.
    double msTo(int position);
    // How many pictures the last msTo decoded in full (the skipped ones not counted).
    int lastDecoded() const { return m_decoded; }

private:
    int keyframeFor(int packet) const;
    void drainAll();

    video::ff::CodecPtr m_context;
    video::ff::FramePtr m_frame;
    std::vector<video::ff::PacketPtr> m_packets; // the video stream's, in file order
    std::vector<int> m_shownAt;     // per packet: the slot its picture shows at, -1 none
    std::vector<int> m_packetShown; // per position: the packet whose picture shows there
    int m_decoded = 0;
};
