#pragma once

#include <cstddef>
#include <functional>

namespace video {

// Runs `read` over memory mapped from a file that another program may cut shorter meanwhile
// (a recorder starting again, a copy replaced). A read past the new end raises SIGBUS, which
// would end the player; here it ends only the read: false, and the caller drops what `read`
// left half done (the jump out skips the rest of it: memory it was copying into may leak).
// `read` must hold no lock while it touches the mapping, and this thread must not nest such
// reads. A SIGBUS anywhere else goes to whoever handled it before.
bool readMapped(const void *begin, std::size_t length, const std::function<void()> &read);

} // namespace video
