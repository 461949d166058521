#pragma once

#include <cstddef>
#include <cstdint>

namespace video::slab {

// Memory for pooled pictures comes from the system in slabs: 2 MB-aligned anonymous mappings
// advised into transparent huge pages, so that a slab faults in one 2 MB page at a time
// rather than 512 small ones.

constexpr std::size_t kHugePage = std::size_t(2) << 20;

constexpr std::size_t roundUp(std::size_t n, std::size_t to)
{
    return (n + to - 1) / to * to;
}

// Slab size for buffers of `piece` bytes: the smallest whole number of huge pages that holds
// a whole number of buffers with at most a sixteenth left over (320x240 RGB555 pictures go
// thirteen to 2 MB; 1920x1088 4:2:0 ones, 3.1 MB, six to 18 MB rather than one to 4 MB).
std::size_t bytesFor(std::size_t piece);

// A slab of `bytes`; null when the system has none. Only advised into huge pages (unless
// `huge` is false): without them the memory works all the same, faulted in 4 KB at a time.
//
// Huge pages are not always the cheaper: memory the host has not backed (lately) costs 4 to
// 40 ms per 12 MB on first touch in huge pages on this kind of virtual machine, against 6
// to 9 ms in small ones (a program mapping and writing 1.6 GB in fresh processes, in turns);
// a 4K reverse play, which takes 1.6 GB of fresh memory before its first picture, decoded
// its first stretch in 4.0 s of CPU time in small pages against 7.2 to 8.8 s in huge ones.
uint8_t *map(std::size_t bytes, bool huge = true);
// The same, every page of it already faulted in (and reading zero, as fresh memory does).
uint8_t *mapFaultedIn(std::size_t bytes, bool huge = true);
void unmap(uint8_t *base, std::size_t bytes);

} // namespace video::slab
