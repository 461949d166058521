#pragma once

#include <QString>
#include <functional>

class QIODevice;

namespace windowing {

// Writes a file's content to an open device; false when it could not be written whole.
using ContentWriter = std::function<bool(QIODevice &)>;

// Saves a file whole or not at all, for every picture the program writes. The content goes
// to a temporary file beside the path, renamed over it only when complete, so a failed save
// (missing folder, no space, a write that breaks off) leaves an existing file as it was.
// Only a regular file is ever replaced: a symbolic link to one is followed and the file it
// names replaced; a folder, device, named pipe or socket of that name is refused and left
// untouched. On failure returns false and puts a short Japanese reason into *reason.
bool saveWhole(const QString &path, const ContentWriter &write, QString *reason);

} // namespace windowing
