// A scripted USB link: records what the host writes and answers bulk-in
// reads from a queue (Timeout when the queue is empty).
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "vqsim/UsbLink.h"

namespace mactest {

struct FakeIn {
  vqsim::LinkStatus status = vqsim::LinkStatus::Ok;
  std::vector<uint8_t> bytes;
};

class FakeLink : public vqsim::UsbLink {
 public:
  explicit FakeLink(uint32_t location = 0x14100000) : location_(location) {}

  uint16_t VendorId() const override { return 0xF1E5; }
  uint16_t ProductId() const override { return 0x0480; }
  uint32_t LocationId() const override { return location_; }

  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override {
    std::lock_guard lock(m_);
    written.emplace_back(data, data + len);
    return outStatus;
  }
  vqsim::LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override {
    std::lock_guard lock(m_);
    lastTimeoutMs = timeoutMs;
    *got = 0;
    if (in.empty()) return vqsim::LinkStatus::Timeout;
    FakeIn next = in.front();
    in.pop_front();
    if (next.status != vqsim::LinkStatus::Ok) return next.status;
    size_t n = next.bytes.size() < cap ? next.bytes.size() : cap;
    std::copy(next.bytes.begin(), next.bytes.begin() + n, buf);
    *got = n;
    return vqsim::LinkStatus::Ok;
  }
  vqsim::LinkStatus InterruptIn(uint8_t*, size_t, size_t* got, uint32_t) override {
    *got = 0;
    return vqsim::LinkStatus::Timeout;
  }
  vqsim::LinkStatus ClearStall() override { return vqsim::LinkStatus::Ok; }
  void SetWakeup(std::function<void()>) override {}

  vqsim::LinkStatus outStatus = vqsim::LinkStatus::Ok;
  std::deque<FakeIn> in;
  std::vector<std::vector<uint8_t>> written;
  uint32_t lastTimeoutMs = 0;

 private:
  std::mutex m_;
  uint32_t location_;
};

}  // namespace mactest
