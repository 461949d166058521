#pragma once

#include "platform/video/decode/FrameIndex.h"
#include "platform/video/decode/StreamIndex.h"

#include <optional>
#include <vector>

namespace video {

// A transport stream's H.264 pictures read straight from its packets, two halves of
// the file at once, without libavformat's demuxer and the codec's parser that splits its PES
// packets into pictures (most of the time of a scan). It gives exactly what a scan through
// them would: where the file is of the plain kind it knows (one picture to a PES, each with
// its own times, nothing lost or scrambled, no field pictures), and nothing otherwise, when
// that scan is to be made instead.
struct TsPictures {
    std::vector<FrameIndex::Packet> packets; // in file order, slots -1
    std::vector<bool> idr; // per packet: an IDR picture
};

std::optional<TsPictures> scanTransportStream(const StreamIndex::Source &source);

// Off, every file goes the demuxer's way: the tests build an index both ways.
void setTsScanAllowed(bool allowed);

} // namespace video
