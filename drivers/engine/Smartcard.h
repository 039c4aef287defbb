// Setting up and tearing down the context record.
#pragma once

#include "SmartcardExtension.h"

// Called once by the front end after it has set the version, both buffer
// sizes and the device data: allocates the frame buffers (and on Windows CE
// the OS record with its lock and events).
NTSTATUS SmartcardInitialize(SmartcardExtension* SmartcardExtension);

// Frees what SmartcardInitialize made and the T=1 reply copy.
void SmartcardExit(SmartcardExtension* SmartcardExtension);

// Clears the card capabilities before a power request (keeping the two
// conversion tables), resets the T=1 state and sets the T=1 IFSD.
void SmartcardInitializeCardCapabilities(SmartcardExtension* SmartcardExtension);
