// What the engine needs of the reader's USB transport. The engine declares
// these; each front end defines them (Windows CE on the USB host driver
// interface, Mac OS X on IOKit), and the engine's tests over the simulator.
#pragma once

#include <stdint.h>

#include "SmartcardExtension.h"

// Writes one frame (header and payload together) to the bulk-out endpoint.
NTSTATUS UsbBulkWrite(SmartcardExtension* SmartcardExtension, const uint8_t* Bytes,
                      uint32_t Length);

// One read of at most Size bytes from the bulk-in endpoint; waits at most the
// read time-out of the device part. *Length receives the bytes read.
NTSTATUS UsbBulkRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer, uint32_t Size,
                     uint32_t* Length);

#if VQ_BUILD_CE
// One slot-change notice from the interrupt-in endpoint (2 bytes); no time-out.
NTSTATUS UsbInterruptRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer,
                          uint32_t Size);
#endif
