#include "host/plugin_api.h"

const char* ResultCodeName(ResultCode code) {
  switch (code) {
    case ResultOk: return "ResultOk";
    case ResultCancelled: return "ResultCancelled";
    case ResultNoMatch: return "ResultNoMatch";
    case ResultBadData: return "ResultBadData";
    case ResultNoMemory: return "ResultNoMemory";
    case ResultMemoryError: return "ResultMemoryError";
    case ResultReadError: return "ResultReadError";
    case ResultInternalError: return "ResultInternalError";
    case ResultWriteError: return "ResultWriteError";
    case ResultTruncatedData: return "ResultTruncatedData";
    case ResultNotImplemented: return "ResultNotImplemented";
    default: return "unknown result";
  }
}

const char* ResultCodeMeaning(ResultCode code) {
  switch (code) {
    case ResultOk: return "done";
    case ResultCancelled: return "cancelled";
    case ResultNoMatch: return "no entry of that name";
    case ResultBadData: return "the data is not a valid file of this format, or is damaged";
    case ResultNoMemory: return "out of memory";
    case ResultMemoryError: return "a memory block could not be used";
    case ResultReadError: return "the file cannot be opened or read";
    case ResultInternalError: return "internal error";
    case ResultWriteError: return "the output cannot be written";
    case ResultTruncatedData: return "the picture data ends too early";
    case ResultNotImplemented: return "not supported";
    default: return "unexpected result";
  }
}
