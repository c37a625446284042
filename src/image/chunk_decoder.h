// The chunked pixel encoding: chunks of byte literals and three-byte escapes
// that copy earlier pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/host_interface.h"

// Decodes the dataLength bytes at data into work, size bytes; work must come
// cleared (pixels the data does not reach stay 0, and so do the pixels of an
// escape at distance 0). Calls progress (chunk offset, dataLength) before
// each chunk. Reads nothing outside the data block and writes nothing outside
// work. ResultOk, ResultCancelled or ResultBadData (a bad signature, a chunk
// header or coded byte beyond the data block, an escape from before the first
// pixel or past the last).
ResultCode DecodeChunks(const uint8_t* data, int32_t dataLength, uint8_t* work, size_t size,
                        ProgressCallback progress, intptr_t userData);
