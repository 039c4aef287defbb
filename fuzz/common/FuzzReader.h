// What the engine's fuzz targets share: one initialized reader context whose
// transport (UsbBulkWrite, UsbBulkRead) is the playback of FuzzPlayback.h.
#pragma once

#include "FuzzPlayback.h"
#include "SmartcardExtension.h"

// Initializes a cleared context and its device part as a front end does.
void InitReaderContext(SmartcardExtension* ext, ReaderDeviceData* dev);

struct Reader {
  SmartcardExtension ext{};
  ReaderDeviceData dev{};
  Reader();
};
