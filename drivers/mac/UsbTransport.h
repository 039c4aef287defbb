// The reader's USB transport on IOKit: finds and opens a reader of the family
// that no other channel uses, selects its configuration and first interface,
// finds the bulk pipes, and offers a bulk write and a bulk read with time-out
// (UsbBulkWrite and UsbBulkRead are declared by the engine, Transport.h).
// A failed transfer breaks the channel's transport until it is closed.
#pragma once

#include <stdint.h>

#include "SmartcardExtension.h"

// USB ids of the reader family.
constexpr uint16_t VQUSB_VENDOR_ID = 0xF1E5;
constexpr uint16_t VQUSB_PRODUCT_ID = 0x0480;

// Finds a device with these ids whose location id no context of the
// handler's table holds, and opens it (seizing it after a second when another
// client holds it exclusively).
NTSTATUS UsbOpen(SmartcardExtension* SmartcardExtension, uint16_t VendorId, uint16_t ProductId);

// Configuration, first interface, bulk-in and bulk-out pipes.
NTSTATUS UsbInitTransfer(SmartcardExtension* SmartcardExtension);

// Closes and releases interface and device; always 0.
NTSTATUS UsbClose(SmartcardExtension* SmartcardExtension);
