#pragma once

namespace mci {
class Interpreter;
}

namespace avi {

// Registers the video device with the interpreter under the type "avivideo".
void registerAviVideo(mci::Interpreter &interpreter);

} // namespace avi
