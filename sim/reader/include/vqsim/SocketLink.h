// The host's end of a reader served by vqreader-sim over a Unix socket.
//
// Wire format, both ways: a message is a 4-byte big-endian body length and
// the body. A request body is one operation byte and its arguments; the
// answer body is one status byte (LinkStatus in order: 0 Ok, 1 Timeout,
// 2 Stalled, 3 Unplugged, 4 Error) and its data.
//   'O' data                        bulk out
//   'I' u32 cap, u32 timeout ms     bulk in: status, data (answered when data is
//                                   there or when the time-out has passed)
//   'N' u32 cap, u32 timeout ms     interrupt in: status, notice (likewise)
//   'C'                             clear stall
//   'D'                             identity: status, u16 vendor, u16 product,
//                                   u32 location, u8 busy
//   'A' text                        insert a card: "KIND" or "KIND ATRHEX"; empty:
//                                   the served reader's own card kind
//   'R'                             remove the card
//   'U'                             unplug the reader
//   'B' u8                          set or clear the busy flag
//   'S'                             stall the bulk endpoints
// A control answer's status byte is 0 (done) or 4 (refused).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vqsim/UsbLink.h"

namespace vqsim {

class SocketLink : public UsbLink {
 public:
  // Connects and reads the device identity; nullptr (and a reason) when the
  // socket cannot be reached or does not answer.
  static std::unique_ptr<SocketLink> Connect(const std::string& path, std::string* error = nullptr);
  ~SocketLink() override;

  uint16_t VendorId() const override { return vendor_; }
  uint16_t ProductId() const override { return product_; }
  uint32_t LocationId() const override { return location_; }
  LinkStatus BulkOut(const uint8_t* data, size_t len) override;
  LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override;
  // Waits on a connection of its own, so that a card-status thread waiting
  // here does not hold up the bulk transfers.
  LinkStatus InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override;
  LinkStatus ClearStall() override;
  // Called when a transfer finds the device unplugged or the socket broken
  // (there is no listening thread: the news comes with a transfer).
  void SetWakeup(std::function<void()> wakeup) override;

  const std::string& Path() const { return path_; }
  bool Busy();  // held exclusively by another client (asked of the server)

  // Control of the served reader (for tests); true when done.
  bool InsertCard(const std::string& kindAndAtr = "");
  bool RemoveCard();
  bool Unplug();
  bool SetBusy(bool busy);
  bool StallBulk();

 private:
  struct Conn {
    int fd = -1;
    bool broken = false;
    std::mutex mu;
  };
  SocketLink(std::string path, int fd);
  // One request and its answer on `c`; false when the socket failed (it is
  // then broken for good).
  bool Call(Conn& c, const std::vector<uint8_t>& request, std::vector<uint8_t>* answer, int waitMs);
  bool Control(std::vector<uint8_t> request);
  LinkStatus Failed();
  // The status of a read's answer (a status byte, then the data), its data
  // copied into `buf` up to `cap` bytes.
  LinkStatus Received(const std::vector<uint8_t>& answer, uint8_t* buf, size_t cap, size_t* got);

  std::string path_;
  Conn bulk_;
  Conn irq_;
  uint16_t vendor_ = 0, product_ = 0;
  uint32_t location_ = 0;
  std::mutex wakeMu_;
  std::function<void()> wakeup_;
};

}  // namespace vqsim
