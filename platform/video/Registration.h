#pragma once

namespace mci {
class Interpreter;
}

namespace video {

// Registers the video device with the interpreter under the type "avivideo".
void registerVideoDevice(mci::Interpreter &interpreter);

} // namespace video
