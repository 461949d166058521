#include "media/DrawingSurface.h"

#include "platform/mci/Surfaces.h"

namespace DrawingSurface {

quint32 lend(QImage *image)
{
    return mci::Surfaces::registerSurface(image);
}

void giveBack(quint32 handle)
{
    mci::Surfaces::unregisterSurface(handle);
}

} // namespace DrawingSurface
