// The two KZX pixel encodings, as data blocks. Both take a picture whose size
// the caller has already checked (at least one pixel, at most 2^31 - 1) and
// append the data block to *data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Literals and copies from the fourteen neighbours, chosen by a shortest-path
// search over the bit costs. Ends with the zero word the reader's group test
// needs (see the .cpp).
void EncodeBitStream(const uint8_t* pixels, uint32_t width, uint32_t height,
                     std::vector<uint8_t>* data);

// Chunks of byte literals and three-byte escapes. No pixel may be 255: that
// byte always starts an escape.
void EncodeChunks(const uint8_t* pixels, size_t pixelCount, std::vector<uint8_t>* data);
