#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <iterator>
#include <map>
#include <vector>

struct AVFrame;

// The frames a plain sequential decode shows at each position, made without seeking,
// caching or any of the decoder's planning: the yardstick for every exactness test.
struct ReferenceDecode {
    std::vector<QImage> framesByPosition; // one per frame slot
};

ReferenceDecode referenceDecode(const QString &path);

// The walk under it, for callers that keep something else of each picture (the bench keeps
// a hash): every decoded picture with its frame slot, in decoding order. Returns the number
// of frame slots, or -1 when the file cannot be decoded.
int walkReferenceDecode(const QString &path,
    const std::function<void(int slot, const AVFrame *picture, int width, int height)> &onPicture);

// What each position shows: the picture of its own slot, or of the last slot before it that
// had one (a null frame repeats the frame before it).
template <class T>
std::vector<T> byPosition(const std::map<int, T> &bySlot, int slotCount)
{
    std::vector<T> result;
    for (int p = 0; p < slotCount && !bySlot.empty(); ++p) {
        auto it = bySlot.upper_bound(p);
        result.push_back(it == bySlot.begin() ? it->second : std::prev(it)->second);
    }
    return result;
}
