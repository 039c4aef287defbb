// What the engine's fuzz targets share: one initialized reader context and a
// transport that plays back the chunks a target queued (an empty queue reads
// as a failed transfer).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "SmartcardExtension.h"

extern std::deque<std::vector<uint8_t>> g_chunks;

struct Reader {
  SmartcardExtension ext{};
  ReaderDeviceData dev{};
  Reader();
};
