// The one way code in this tree reaches the Windows services: the system's own
// on Windows, our implementation of them on Linux.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "posix/winsvc.h"
#endif
