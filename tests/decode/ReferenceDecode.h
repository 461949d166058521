#pragma once

#include <QImage>
#include <QString>

#include <vector>

// The frames a plain sequential decode shows at each position, made without seeking,
// caching or any of the decoder's planning: the yardstick for every exactness test.
struct ReferenceDecode {
    std::vector<QImage> framesByPosition; // one per frame slot
    int decodedFrames = 0;
};

ReferenceDecode referenceDecode(const QString &path);
