#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace video {

class SlabBooks;

// One slab cut into buffers of one size. Its buffers are handed out from the start, once each
// (the untouched ones), and then again as they come back (the returned ones).
struct Slab {
    SlabBooks *books = nullptr; // whose buffers these are
    uint8_t *base = nullptr;
    std::size_t bytes = 0;
    std::size_t piece = 0;
    int count = 0;     // buffers the slab holds
    int out = 0;       // handed out now
    int untouched = 0; // never handed out: the last `untouched` of the slab
    bool faultedIn = false; // its untouched buffers are in memory already (prefaulted)
    std::vector<uint8_t *> returned;

    Slab(SlabBooks *owner, uint8_t *memory, std::size_t size, std::size_t pieceSize)
        : books(owner), base(memory), bytes(size), piece(pieceSize),
          count(int(size / pieceSize)), untouched(count)
    {
    }
    uint8_t *takeUntouched() { return base + std::size_t(count - untouched--) * piece; }
};

struct SlabTotals {
    std::size_t mappedBytes = 0; // slabs held from the system
    std::size_t idleBytes = 0;   // buffers in those slabs not handed out
    std::size_t outBytes = 0;    // buffers handed out
    int slabs = 0;
    std::int64_t fresh = 0;  // buffers handed out for the first time
    std::int64_t reused = 0; // buffers handed out again, or from a prefaulted slab
    std::int64_t prefaulted = 0; // slabs faulted in ahead of need
};

// Which buffer of which slab is out and which is idle, and which idle one to hand out next:
// memory already touched (no page faults) before untouched memory, prefaulted memory before
// memory still to be faulted in, and always from the busiest slab, so that the others empty
// and can go back to the system. Not thread-safe: its owner locks.
class SlabBooks {
public:
    struct Handout {
        Slab *slab = nullptr; // null: no idle buffer of the size
        uint8_t *data = nullptr;
        bool cameBack = false; // a buffer handed out before, not one from untouched memory
    };
    using Unmaps = std::vector<std::pair<uint8_t *, std::size_t>>;

    SlabBooks() = default;
    SlabBooks(const SlabBooks &) = delete;
    SlabBooks &operator=(const SlabBooks &) = delete;
    ~SlabBooks();

    // An idle buffer of `piece` bytes from a slab already held.
    Handout take(std::size_t piece);
    // Books the slab of buffers of `piece` bytes at `base`, all of them idle.
    Slab *add(uint8_t *base, std::size_t bytes, std::size_t piece, bool faultedIn);
    // The first untouched buffer of `slab`.
    Handout takeUntouched(Slab *slab);
    void giveBack(Slab *slab, uint8_t *data);
    // Takes slabs none of whose buffers is out off the books while more than `idleCap` is
    // idle; all of them with `all`. The caller unmaps what is added to `unmap`.
    void dropIdle(std::size_t idleCap, bool all, Unmaps &unmap);

    // Buffers of this size that can be handed out without a page fault.
    int ready(std::size_t piece) const;
    bool holds(const uint8_t *data) const;
    const SlabTotals &totals() const { return m_totals; }

private:
    Handout handOut(Slab *slab, uint8_t *data, bool cameBack);

    std::map<std::size_t, std::vector<Slab *>> m_bySize;
    SlabTotals m_totals;
};

} // namespace video
