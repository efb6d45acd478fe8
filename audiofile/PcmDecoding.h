#pragma once

#include <QString>

#include <functional>

class PcmBuffer;

// Fills a PcmBuffer with a whole file, read to the decoder's real end (not to
// the length the container declares), and finishes it: Complete when the
// end was reached (possibly with 0 frames); Short when the end was reached
// well before the declared length (a cut file; the reason says how much
// decodes); Failed with the decoder's reason when the file cannot be opened
// or reading gives up on errors part-way (the frames read so far stay);
// Cancelled when the buffer's reader gave up. Frames become visible to
// readers as they are decoded.
using DecodeFunction = std::function<void(const QString& path, PcmBuffer& out)>;

// The FFmpeg decoder behind DecodeFunction. Checks for cancellation between
// reads of a few thousand frames, so giving up takes effect within a few ms.
void decodeFileToBuffer(const QString& path, PcmBuffer& out);
