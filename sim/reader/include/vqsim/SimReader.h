// One simulated reader of the family, in process: the device side of the
// frame protocol behind the UsbLink endpoints, with a card slot, faults on
// demand and a record of the last frames the host sent. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "vqsim/Card.h"
#include "vqsim/Faults.h"
#include "vqsim/UsbLink.h"
#include "vqsim/Wire.h"

namespace vqsim {

struct ReaderConfig {
  std::string model = "VQ480T";     // bytes 4.. of the information block (at most 8 shown)
  std::string firmware = "0100";    // four digits, bytes 12-15 of the information block
  uint16_t vendorId = kVendorId;
  uint16_t productId = kProductId;
  uint32_t locationId = 0x14100000;
};

// One request frame as the host sent it.
struct HostFrame {
  FrameHeader header;            // b7/b8/b9: the request's parameters 1 to 3
  std::vector<uint8_t> payload;
};

// The 16 bytes of the information block for a model text and firmware
// digits: bytes 0-3 zero, the model text from byte 4, a hyphen behind it when
// it is shorter than 8 characters (the rest filled with blanks), the four
// firmware digits at bytes 12-15.
std::vector<uint8_t> InfoBlock(const std::string& model, const std::string& firmware);

class SimReader : public UsbLink {
 public:
  explicit SimReader(ReaderConfig config = {});
  ~SimReader() override;

  // UsbLink
  uint16_t VendorId() const override { return config_.vendorId; }
  uint16_t ProductId() const override { return config_.productId; }
  uint32_t LocationId() const override { return config_.locationId; }
  LinkStatus BulkOut(const uint8_t* data, size_t len) override;
  LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override;
  LinkStatus InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) override;
  LinkStatus ClearStall() override;
  void SetWakeup(std::function<void()> wakeup) override;

  const ReaderConfig& Config() const { return config_; }

  // Card slot. Inserting (also over a card) or removing a card queues a
  // slot-change notice and calls the wake-up.
  void InsertCard(std::shared_ptr<Card> card);
  void RemoveCard();
  std::shared_ptr<Card> CurrentCard() const;
  bool CardPowered() const;

  // Device-level states.
  void Unplug();                 // every later call fails with Unplugged
  bool Unplugged() const;
  void StallBulk();              // bulk endpoints Stalled until ClearStall
  void SetBusy(bool busy);       // held exclusively by another client
  bool Busy() const;

  // Faults (see Faults.h).
  void SetFaults(const Faults& f);
  void UpdateFaults(const std::function<void(Faults&)>& edit);
  Faults GetFaults() const;

  // Answer of the escape command: the host's bytes echoed unless set.
  void SetEscapeHandler(std::function<std::vector<uint8_t>(std::span<const uint8_t>)> handler);

  // The last kMaxRecordedFrames frames the host sent, in order (older ones
  // are dropped, so that a reader that serves for long keeps its size).
  static constexpr size_t kMaxRecordedFrames = 1024;
  std::vector<HostFrame> Received() const;
  std::vector<uint8_t> ReceivedTypes() const;
  void ClearReceived();
  // Bulk-in transfers waiting to be read.
  size_t PendingTransfers() const;
  // Slot-change notices waiting to be read.
  size_t PendingNotices() const;

 private:
  std::vector<uint8_t> Answer(const HostFrame& f, int* cardTimeExt);
  uint8_t CardStatus() const;
  void QueueAnswer(std::vector<uint8_t> frame, const FrameHeader& req, int cardTimeExt);
  void QueueNotice(bool present);
  void Record(const HostFrame& f);
  std::vector<uint8_t> FloodChunk();
  void Wake(std::unique_lock<std::mutex>& lock);

  const ReaderConfig config_;
  mutable std::mutex mu_;
  std::function<void()> wakeup_;
  std::function<std::vector<uint8_t>(std::span<const uint8_t>)> escape_;
  std::shared_ptr<Card> card_;
  bool powered_ = false;
  bool unplugged_ = false;
  bool stalled_ = false;
  bool busy_ = false;
  Faults faults_;
  std::vector<uint8_t> inBuf_;                 // bytes of an incomplete request
  std::deque<std::vector<uint8_t>> out_;       // bulk-in transfers
  std::deque<std::vector<uint8_t>> notices_;   // interrupt-in transfers
  std::vector<uint8_t> lastAnswer_;            // for the stale-answer fault
  std::deque<HostFrame> received_;             // the last kMaxRecordedFrames
  uint8_t lastSeq_ = 0;                        // of the last request, for floods
  uint32_t floodReads_ = 0;                    // flood chunks sent since that request
};

}  // namespace vqsim
