#pragma once

#include <QImage>
#include <QtGlobal>

namespace mci {

// Drawing surfaces: persistent images that windows of the program lend to the layer. A window
// registers its image and gets a decimal handle for the "hdc" of an update command; the
// device draws into the image by that handle, so no pointer ever crosses the text road.
// User-interface thread only.
class Surfaces {
public:
    // Returns a handle, never 0. The image must stay alive until it is unregistered.
    static quint32 registerSurface(QImage *image);
    static void unregisterSurface(quint32 handle);
    // nullptr for an unknown handle.
    static QImage *find(quint32 handle);
};

} // namespace mci
