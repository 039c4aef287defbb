// The IFD handler's own tables and internal operations. The entry points
// themselves are declared by pcsc-lite's ifdhandler.h.
#pragma once

#include <stdint.h>

#include "SmartcardExtension.h"

// Readers one loaded handler serves; the table index is Lun >> 16.
constexpr int MaxReaders = 4;

extern SmartcardExtension* g_pSmartcardExtension[MaxReaders];
extern int16_t g_slot[MaxReaders];  // never written: stays 0
extern uint32_t g_IsIFDH20;         // set by IFDHCreateChannel

// The reader's static description, copied into each device part; words 0, 1
// and 3 point at texts.
extern uintptr_t device_data[DeviceDescriptionWords];

// Sets up a cleared context with its device part for the table index.
NTSTATUS InitSmartcardExtension(SmartcardExtension* SmartcardExtension, uint8_t ReaderIndex);

// Builds, opens and registers the context of a channel; IFD codes.
long CreateChannel(uint32_t Kind, unsigned long Lun, unsigned long Channel, const char* Name);

// SmartcardExit, then frees the device part and the record.
void FreeSmartcardResource(SmartcardExtension* SmartcardExtension);

// Asks the reader for the slot status; sets the card state (present/absent).
NTSTATUS CCID_SmartcardCardState(SmartcardExtension* SmartcardExtension);

// Read time-out for the frame in the send buffer and the current protocol.
void CCID_SetReadTimout(SmartcardExtension* SmartcardExtension);
