#include "platform/video/decode/SlabBooks.h"

#include <iterator>

namespace video {

SlabBooks::~SlabBooks()
{
    for (const auto &[piece, slabs] : m_bySize) {
        for (Slab *slab : slabs)
            delete slab;
    }
}

SlabBooks::Handout SlabBooks::take(std::size_t piece)
{
    const auto it = m_bySize.find(piece);
    if (it == m_bySize.end())
        return {};
    Slab *slab = nullptr;
    for (Slab *s : it->second) {
        if (!s->returned.empty() && (!slab || s->out > slab->out))
            slab = s;
    }
    if (slab) {
        uint8_t *data = slab->returned.back();
        slab->returned.pop_back();
        return handOut(slab, data, true);
    }
    for (Slab *s : it->second) {
        const bool better = !slab || s->faultedIn > slab->faultedIn ||
            (s->faultedIn == slab->faultedIn && s->out > slab->out);
        if (s->untouched > 0 && better)
            slab = s;
    }
    return slab ? takeUntouched(slab) : Handout{};
}

SlabBooks::Handout SlabBooks::takeUntouched(Slab *slab)
{
    return handOut(slab, slab->takeUntouched(), false);
}

SlabBooks::Handout SlabBooks::handOut(Slab *slab, uint8_t *data, bool cameBack)
{
    ++(cameBack || slab->faultedIn ? m_totals.reused : m_totals.fresh);
    ++slab->out;
    m_totals.idleBytes -= slab->piece;
    m_totals.outBytes += slab->piece;
    return {slab, data, cameBack};
}

Slab *SlabBooks::add(uint8_t *base, std::size_t bytes, std::size_t piece, bool faultedIn)
{
    auto *slab = new Slab(this, base, bytes, piece);
    slab->faultedIn = faultedIn;
    m_bySize[piece].push_back(slab);
    ++m_totals.slabs;
    m_totals.mappedBytes += bytes;
    m_totals.idleBytes += std::size_t(slab->count) * piece;
    if (faultedIn)
        ++m_totals.prefaulted;
    return slab;
}

void SlabBooks::giveBack(Slab *slab, uint8_t *data)
{
    slab->returned.push_back(data);
    --slab->out;
    m_totals.idleBytes += slab->piece;
    m_totals.outBytes -= slab->piece;
}

void SlabBooks::dropIdle(std::size_t idleCap, bool all, Unmaps &unmap)
{
    for (auto it = m_bySize.begin(); it != m_bySize.end();) {
        std::vector<Slab *> &list = it->second;
        for (auto s = list.begin(); s != list.end();) {
            Slab *slab = *s;
            if (slab->out != 0 || !(all || m_totals.idleBytes > idleCap)) {
                ++s;
                continue;
            }
            m_totals.idleBytes -= std::size_t(slab->count) * slab->piece;
            m_totals.mappedBytes -= slab->bytes;
            --m_totals.slabs;
            unmap.emplace_back(slab->base, slab->bytes);
            delete slab;
            s = list.erase(s);
        }
        it = list.empty() ? m_bySize.erase(it) : std::next(it);
    }
}

int SlabBooks::ready(std::size_t piece) const
{
    const auto it = m_bySize.find(piece);
    int n = 0;
    if (it != m_bySize.end()) {
        for (const Slab *s : it->second)
            n += int(s->returned.size()) + (s->faultedIn ? s->untouched : 0);
    }
    return n;
}

bool SlabBooks::holds(const uint8_t *data) const
{
    for (const auto &[piece, slabs] : m_bySize) {
        for (const Slab *slab : slabs) {
            if (data >= slab->base && data < slab->base + slab->bytes)
                return true;
        }
    }
    return false;
}

} // namespace video
