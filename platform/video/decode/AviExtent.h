#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>

// Where the recorded data of an AVI ends. A recording that was never finished, in a file
// preallocated for it, is followed by up to gigabytes of zeros, which the demuxer walks eight
// bytes or one byte at a time looking for an index or the next chunk; ending its view of the
// file where the data ends opens such a file in the time its data needs.
namespace video::avi {

uint32_t le32(const char *p);

// Whether four bytes can name a RIFF chunk: printable ASCII, not all blanks.
bool chunkId(const char *id);

// Where the data ends: at the first run of zeros, or of anything else that cannot be a
// chunk, after which no chunk starts within a short stretch. The file size when nothing is
// cut off, when the file is no AVI, or when `cancelled` is set meanwhile.
int64_t dataEnd(const QByteArray &localPath, const std::atomic<bool> *cancelled = nullptr);

// The picture size the stream format of the first video stream claims (biWidth, biHeight as
// written, negative or huge); false when the header has none.
bool claimedSize(const QByteArray &localPath, int64_t *width, int64_t *height);

} // namespace video::avi

namespace video {

// The name to give the demuxer for a file: the file itself, or for an AVI followed by
// something that cannot be a chunk, the part of it that holds the data.
QByteArray demuxerUrl(const QString &path, const std::atomic<bool> *cancelled = nullptr);

} // namespace video
