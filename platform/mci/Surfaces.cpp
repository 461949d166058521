#include "platform/mci/Surfaces.h"

#include <map>

namespace mci {

namespace {

struct Registry {
    std::map<quint32, QImage *> images;
    quint32 next = 1;
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

quint32 Surfaces::registerSurface(QImage *image)
{
    Registry &r = registry();
    const quint32 handle = r.next++;
    r.images[handle] = image;
    return handle;
}

void Surfaces::unregisterSurface(quint32 handle)
{
    registry().images.erase(handle);
}

QImage *Surfaces::find(quint32 handle)
{
    const auto it = registry().images.find(handle);
    return it == registry().images.end() ? nullptr : it->second;
}

} // namespace mci
