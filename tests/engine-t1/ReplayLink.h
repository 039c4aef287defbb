// A UsbLink that answers every bulk-out with the next answer a test queued
// (or a generator made), and records what the host wrote. With nothing
// queued a read times out.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "vqsim/UsbLink.h"

namespace t1test {

class ReplayLink : public vqsim::UsbLink {
 public:
  using Bytes = std::vector<uint8_t>;
  std::deque<Bytes> chunks;              // the next bulk-in transfers
  std::vector<Bytes> written;            // bulk-out transfers, in order
  // Called at each bulk-out when set: may queue chunks.
  std::function<void(const Bytes&)> onWrite;

  uint16_t VendorId() const override { return 0xF1E5; }
  uint16_t ProductId() const override { return 0x0480; }
  uint32_t LocationId() const override { return 7; }
  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override {
    written.emplace_back(data, data + len);
    if (onWrite) onWrite(written.back());
    return vqsim::LinkStatus::Ok;
  }
  vqsim::LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t) override {
    if (chunks.empty()) return vqsim::LinkStatus::Timeout;
    Bytes c = std::move(chunks.front());
    chunks.pop_front();
    if (c.size() > cap) c.resize(cap);
    if (!c.empty()) std::memcpy(buf, c.data(), c.size());
    *got = c.size();
    return vqsim::LinkStatus::Ok;
  }
  vqsim::LinkStatus InterruptIn(uint8_t*, size_t, size_t*, uint32_t) override {
    return vqsim::LinkStatus::Timeout;
  }
  vqsim::LinkStatus ClearStall() override { return vqsim::LinkStatus::Ok; }
  void SetWakeup(std::function<void()>) override {}
};

}  // namespace t1test
