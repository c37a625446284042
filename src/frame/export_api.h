// How an export is declared: C linkage, the host's calling convention. The
// module-definition file of each library names what is exported.
#pragma once

#include "frame/host_interface.h"

#define PLUGIN_EXPORT extern "C"
