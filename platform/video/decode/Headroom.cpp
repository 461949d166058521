#include "platform/video/decode/Headroom.h"

#include "platform/video/AddressSpace.h"

namespace video {

bool addressSpaceNearlyFull(qint64 margin)
{
    const AddressSpace space = AddressSpace::now();
    return space.left && *space.left < margin;
}

} // namespace video
