#pragma once

#include "platform/mci/Command.h"
#include "platform/mci/DeviceTable.h"
#include "platform/mci/Result.h"

namespace mci {

// Carries out a parsed command on the device table: opens and closes devices, hands every
// other command to its device as a typed call, and waits when asked.
Result dispatch(const Command &command, DeviceTable &devices);

} // namespace mci
