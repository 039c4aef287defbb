// A UsbLink that plays back bulk-in chunks a test lays out byte for byte (or
// that onWrite queues in answer to each request), for the cases that need an
// exact chunk layout or a reader answer no simulator would give. Records what
// the host wrote; an empty queue reads as a time-out.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "vqsim/UsbLink.h"

namespace vqtest {

using Bytes = std::vector<uint8_t>;

// A reply frame: type, payload length (big-endian), slot 0, sequence, status, error, 0.
inline Bytes ReplyFrame(uint8_t type, uint8_t seq, uint8_t status, const Bytes& payload,
                        uint8_t error = 0) {
  const uint32_t n = static_cast<uint32_t>(payload.size());
  Bytes f = {type,
             static_cast<uint8_t>(n >> 24),
             static_cast<uint8_t>(n >> 16),
             static_cast<uint8_t>(n >> 8),
             static_cast<uint8_t>(n),
             0,
             seq,
             status,
             error,
             0};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ScriptedLink : public vqsim::UsbLink {
 public:
  std::deque<Bytes> chunks;            // what the next bulk-in reads return
  std::vector<Bytes> written;          // bulk-out transfers, in order
  vqsim::LinkStatus writeStatus = vqsim::LinkStatus::Ok;
  // Runs after each bulk-out transfer with what was written; may queue chunks.
  std::function<void(const Bytes&)> onWrite;

  uint16_t VendorId() const override { return 0xF1E5; }
  uint16_t ProductId() const override { return 0x0480; }
  uint32_t LocationId() const override { return 1; }
  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override {
    written.emplace_back(data, data + len);
    if (onWrite) onWrite(written.back());
    return writeStatus;
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

}  // namespace vqtest
