// A simulated reader's USB endpoints for the USB stand-ins, answering from
// the playback of FuzzPlayback.h: a read with no answer left reports a
// time-out at once (the stand-in's virtual clock stands for the wait); a
// stall or an unplug is reported as the link reports them.
#pragma once

#include "FuzzPlayback.h"
#include "vqsim/UsbLink.h"

class FuzzLink : public vqsim::UsbLink {
 public:
  uint16_t VendorId() const override { return 0xF1E5; }
  uint16_t ProductId() const override { return 0x0480; }
  uint32_t LocationId() const override { return 0x14100000; }

  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override {
    NoteWritten(data, len);
    return vqsim::LinkStatus::Ok;
  }
  vqsim::LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t) override {
    uint32_t n = 0;
    const Failure failure =
        NextChunk(buf, cap > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(cap), &n);
    *got = n;
    switch (failure) {
      case Failure::None:
        return vqsim::LinkStatus::Ok;
      case Failure::Timeout:
        return vqsim::LinkStatus::Timeout;
      case Failure::Stalled:
        return vqsim::LinkStatus::Stalled;
      case Failure::Unplugged:
        return vqsim::LinkStatus::Unplugged;
      default:
        return vqsim::LinkStatus::Error;
    }
  }
  vqsim::LinkStatus InterruptIn(uint8_t*, size_t, size_t* got, uint32_t) override {
    *got = 0;
    return vqsim::LinkStatus::Timeout;
  }
  vqsim::LinkStatus ClearStall() override { return vqsim::LinkStatus::Ok; }
  void SetWakeup(std::function<void()>) override {}
};
