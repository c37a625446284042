// The numbers of the KZX file layout, in one place for the plug-in that reads
// the format and the writer that produces it. Nothing here but constants.
#pragma once

#include <cstddef>
#include <cstdint>

// Header: all numbers little-endian.
constexpr size_t KzxMagicLength = 10;
constexpr uint8_t KzxMagic[KzxMagicLength] = {0x2E, 0x38, 0x42, 0x69, 0x74,
                                              0x56, 0x61, 0x73, 0x6B, 0x00};
constexpr size_t KzxHeaderSize = 26;
constexpr size_t KzxEncodingOffset = 10;
constexpr size_t KzxWidthOffset = 14;
constexpr size_t KzxHeightOffset = 16;
constexpr size_t KzxPaletteCountOffset = 18;
constexpr size_t KzxExtraLengthOffset = 20;
constexpr size_t KzxDataLengthOffset = 22;
// The one encoding value that selects the bit stream; every other value
// selects chunks.
constexpr uint16_t KzxEncodingBitStream = 256;
constexpr size_t KzxPaletteEntrySize = 3;
constexpr int16_t KzxColorDepth = 8;

// Bit-stream encoding.
constexpr int BitStreamDistanceCount = 14;
// A count code has at most this many one-bits before its zero bit.
constexpr int BitStreamMaxCountPrefix = 22;

// Chunked encoding.
constexpr size_t ChunkHeaderSize = 10;
constexpr uint16_t ChunkSignature = 0x5843;  // "CX"
constexpr size_t ChunkCodedLengthOffset = 6;
constexpr uint8_t ChunkEscape = 0xFF;
constexpr size_t ChunkEscapeMinLength = 3;  // an escape copies its length code + 3 pixels
