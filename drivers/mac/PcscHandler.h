// pcsc-lite's IFD handler interface, version 2.0 (IFDHControl without a
// control code). Its header has no C++ guard of its own.
#pragma once

#define IFDHANDLERv2
extern "C" {
#include <ifdhandler.h>
}
