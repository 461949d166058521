#pragma once

#include <QtGlobal>

class QImage;

// A window's persistent image lent to the layer: the device draws into it by the handle
// named in the "hdc" of an update command, so no pointer crosses the text road.
namespace DrawingSurface {

// Returns the handle, never 0. The image must stay alive until it is given back.
quint32 lend(QImage *image);
void giveBack(quint32 handle);

} // namespace DrawingSurface
