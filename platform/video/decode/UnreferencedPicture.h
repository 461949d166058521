#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>

namespace video {

// Whether a packet holds one picture that no other picture refers to, told from its header
// alone: a decoder told to skip such pictures need not be handed the packet at all.
//
// That matters with frame threads. A thread handed a picture it only parses and drops still
// takes its turn, so on an MPEG-4 stream with two B-frames between references two threads
// decode slower than one (127 against 112 ms to a target 125 pictures past its keyframe, at
// 1080p); handed only the references, they take 78.
//
// Only where leaving the packet out cannot change what the decoder does with the others:
// MPEG-4 Part 2, a packet that is a single B-VOP and nothing else. No header that sets the
// decoder's state (VOL, VOS, GOV, user data, which names the encoder whose bugs it works
// around) and no second VOP (a packed B-frame behind a P-frame) goes with it. Anything else,
// and any other codec, is false: the packet goes to the decoder as before.
bool unreferencedPicture(AVCodecID codec, const uint8_t *data, int size);

// Whether a packet holds more than one picture: DivX's and Xvid's packed B-frames, a B-VOP
// riding behind the P-VOP it follows. The decoder keeps the rider and decodes it with the next
// packet, which may itself be a lone B-VOP to be kept in turn; left out, the next packet would
// decode the wrong rider. A stream with such packets has none left out.
bool packsPictures(AVCodecID codec, const uint8_t *data, int size);

} // namespace video
