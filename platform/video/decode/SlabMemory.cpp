#include "platform/video/decode/SlabMemory.h"

#include <sys/mman.h>

#include <algorithm>

namespace video::slab {

namespace {

constexpr std::size_t kMaxSlab = std::size_t(32) << 20;

} // namespace

std::size_t bytesFor(std::size_t piece)
{
    const std::size_t smallest = roundUp(piece, kHugePage);
    const std::size_t largest = std::max(kMaxSlab, smallest);
    std::size_t best = smallest;
    std::size_t bestWaste = smallest - piece;
    for (std::size_t bytes = smallest; bytes <= largest; bytes += kHugePage) {
        const std::size_t waste = bytes - bytes / piece * piece;
        if (waste * 16 <= bytes)
            return bytes;
        if (waste * best < bestWaste * bytes) { // a smaller share of the slab wasted
            best = bytes;
            bestWaste = waste;
        }
    }
    return best;
}

uint8_t *map(std::size_t bytes, bool huge)
{
    // One huge page more than asked, so that an aligned start lies inside; the rest goes back.
    const std::size_t span = bytes + kHugePage;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto begin = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = roundUp(begin, kHugePage);
    if (aligned > begin)
        munmap(raw, aligned - begin);
    const std::size_t tail = begin + span - (aligned + bytes);
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    auto *slab = reinterpret_cast<uint8_t *>(aligned);
    if (huge)
        madvise(slab, bytes, MADV_HUGEPAGE);
    return slab;
}

uint8_t *mapFaultedIn(std::size_t bytes, bool huge)
{
    uint8_t *base = map(bytes, huge);
    if (base) {
        // A zero write faults a page in and leaves it as fresh memory reads: zero.
        for (std::size_t offset = 0; offset < bytes; offset += 4096)
            reinterpret_cast<volatile uint8_t *>(base)[offset] = 0;
    }
    return base;
}

void unmap(uint8_t *base, std::size_t bytes)
{
    munmap(base, bytes);
}

} // namespace video::slab
