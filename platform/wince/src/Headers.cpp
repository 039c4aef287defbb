// Keeps the platform headers compiling on their own.
#include <windows.h>
#include <usbdi.h>

static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits wide");
static_assert(sizeof(USB_DRIVER_SETTINGS) == 40, "settings record of ten DWORDs");
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7, "endpoint descriptor as on the wire");
