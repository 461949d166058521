#include "platform/avi/Registration.h"

#include "platform/mci/Interpreter.h"

namespace avi {

void registerAviVideo(mci::Interpreter &)
{
}

} // namespace avi
