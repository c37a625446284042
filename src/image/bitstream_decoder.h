// The bit-stream pixel encoding: literals and copy runs from fourteen fixed
// two-dimensional neighbours.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

// Decodes the dataLength bytes at data into work, width x height bytes, top
// row first; work must come cleared (pixels the data does not reach stay 0).
// Calls progress (read position, dataLength) before each group of tokens.
// Reads nothing outside the data block and writes nothing outside work.
// ResultOk, ResultCancelled, ResultBadData (a copy from before the first
// pixel, past the last, or from a neighbour a narrow picture does not have)
// or ResultTruncatedData (the data ends inside a code, or a count code has
// 23 or more one-bits before its zero bit).
ResultCode DecodeBitStream(const uint8_t* data, int32_t dataLength, uint8_t* work, int32_t width,
                           int32_t height, ProgressCallback progress, intptr_t userData);
