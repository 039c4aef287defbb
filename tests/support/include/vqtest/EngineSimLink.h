// The engine's transport (UsbBulkWrite, UsbBulkRead, UsbInterruptRead) over a
// vqsim::UsbLink, for the engine's tests: link library vq_engine_simlink_ce
// or vq_engine_simlink_mac with the engine build of the same name.
//
// Time is the test's: a read that finds nothing "waits" the device part's
// read time-out on a counter (WaitedMs) and fails with STATUS_UNSUCCESSFUL at
// once, as a real transport would after that long.
#pragma once

#include <cstdint>
#include <vector>

#include "SmartcardExtension.h"
#include "vqsim/UsbLink.h"

namespace vqtest {

struct LinkStats {
  uint64_t waitedMs = 0;                 // read time-outs that ran out
  uint32_t writes = 0;                   // bulk writes
  uint32_t reads = 0;                    // bulk reads
  std::vector<uint32_t> readTimeouts;    // read time-out in force at each bulk read
};

// Routes the transport calls made for `ext` to `link` (nullptr detaches).
void AttachLink(SmartcardExtension* ext, vqsim::UsbLink* link);
// Counters of the transport for `ext` (empty when not attached).
LinkStats Stats(SmartcardExtension* ext);
void ResetStats(SmartcardExtension* ext);

// A context record with its device part, set up as the front end of this
// build sets it up (version, 1024-byte buffers, SmartcardInitialize, vendor
// attributes, reader capabilities, read time-out), attached to `link`.
class EngineReader {
 public:
  explicit EngineReader(vqsim::UsbLink& link);
  ~EngineReader();
  EngineReader(const EngineReader&) = delete;
  EngineReader& operator=(const EngineReader&) = delete;

  SmartcardExtension* ext() { return &ext_; }
  ReaderDeviceData* dev() { return &dev_; }
  NTSTATUS initStatus() const { return initStatus_; }
  LinkStats stats() { return Stats(&ext_); }

  // Puts the driver's frame sequence counter at `next` (the number the next
  // header will carry).
  static void SetSequence(uint8_t next);

 private:
  SmartcardExtension ext_{};
  ReaderDeviceData dev_{};
  NTSTATUS initStatus_ = STATUS_UNSUCCESSFUL;
};

}  // namespace vqtest
