#include "vqsim/SimReader.h"

#include <algorithm>
#include <cstring>

namespace vqsim {

namespace {
constexpr size_t kMaxNotices = 16;
}

std::vector<uint8_t> InfoBlock(const std::string& model, const std::string& firmware) {
  std::vector<uint8_t> b(16, ' ');
  std::fill(b.begin(), b.begin() + 4, 0);
  const size_t n = std::min<size_t>(model.size(), 8);
  std::memcpy(b.data() + 4, model.data(), n);
  if (n < 8) b[4 + n] = '-';
  for (size_t i = 0; i < 4; ++i) b[12 + i] = i < firmware.size() ? static_cast<uint8_t>(firmware[i]) : '0';
  return b;
}

SimReader::SimReader(ReaderConfig config) : config_(std::move(config)) {}
SimReader::~SimReader() = default;

void SimReader::Wake(std::unique_lock<std::mutex>& lock) {
  auto w = wakeup_;
  lock.unlock();
  if (w) w();
}

void SimReader::SetWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(mu_);
  wakeup_ = std::move(wakeup);
}

uint8_t SimReader::CardStatus() const {
  if (!card_) return kCardAbsent;
  return powered_ ? kCardActive : kCardInactive;
}

LinkStatus SimReader::BulkOut(const uint8_t* data, size_t len) {
  std::lock_guard lock(mu_);
  if (unplugged_) return LinkStatus::Unplugged;
  if (stalled_) return LinkStatus::Stalled;
  if (len && !data) return LinkStatus::Error;
  inBuf_.insert(inBuf_.end(), data, data + len);
  while (inBuf_.size() >= kHeaderSize) {
    HostFrame f;
    f.header = ParseHeader(inBuf_);
    if (f.header.length > kMaxRequestPayload) {
      // A length no request has: answer "failed" and drop what is buffered.
      Record(f);
      inBuf_.clear();
      FrameHeader a{kReplySlotStatus, 0, f.header.slot, f.header.seq,
                    static_cast<uint8_t>(kCmdFailed | CardStatus()), kErrBadLength, 0};
      QueueAnswer(BuildFrame(a, {}), f.header, 0);
      break;
    }
    const size_t total = kHeaderSize + f.header.length;
    if (inBuf_.size() < total) break;  // the rest comes in a later write
    f.payload.assign(inBuf_.begin() + kHeaderSize, inBuf_.begin() + total);
    inBuf_.erase(inBuf_.begin(), inBuf_.begin() + total);
    Record(f);
    if (faults_.muteReader || (faults_.flood != ReaderFlood::None && faults_.floodReads == 0)) continue;
    if (faults_.muteAnswers > 0) {
      --faults_.muteAnswers;
      continue;
    }
    int cardTimeExt = 0;
    std::vector<uint8_t> answer = Answer(f, &cardTimeExt);
    QueueAnswer(std::move(answer), f.header, cardTimeExt);
  }
  return LinkStatus::Ok;
}

std::vector<uint8_t> SimReader::Answer(const HostFrame& f, int* cardTimeExt) {
  const FrameHeader& q = f.header;
  auto reply = [&](uint8_t type, uint8_t cmd, uint8_t err, std::span<const uint8_t> payload) {
    FrameHeader a{type, 0, q.slot, q.seq, static_cast<uint8_t>(cmd | CardStatus()), err, 0};
    return BuildFrame(a, payload);
  };
  switch (q.type) {
    case kMsgGetInfo: {
      auto info = InfoBlock(config_.model, config_.firmware);
      return reply(kReplyInfo, kCmdOk, 0, info);
    }
    case kMsgPowerOn:
    case kMsgReReset: {
      if (!card_) return reply(kReplyDataBlock, kCmdFailed, kErrCardMute, {});
      const uint8_t type = card_->CardType();
      std::vector<uint8_t> atrBytes = q.type == kMsgPowerOn || !powered_ ? card_->PowerOn() : card_->WarmReset();
      if (type == 2 || type == 3) {
        powered_ = true;
        const uint8_t t[1] = {type};
        return reply(kReplyDataBlock, kCmdOk, 0, t);
      }
      if (atrBytes.empty()) {
        powered_ = false;
        card_->PowerOff();
        return reply(kReplyDataBlock, kCmdFailed, kErrCardMute, {});
      }
      powered_ = true;
      std::vector<uint8_t> p{type};
      p.insert(p.end(), atrBytes.begin(), atrBytes.end());
      return reply(kReplyDataBlock, kCmdOk, 0, p);
    }
    case kMsgPowerOff:
      if (card_ && powered_) card_->PowerOff();
      powered_ = false;
      return reply(kReplySlotStatus, kCmdOk, 0, {});
    case kMsgGetSlotStatus:
      return reply(kReplySlotStatus, kCmdOk, 0, {});
    case kMsgSetSpeed:
      return reply(kReplySlotStatus, kCmdOk, 0, {});
    case kMsgEscape: {
      std::vector<uint8_t> out = escape_ ? escape_(f.payload) : f.payload;
      return reply(kReplyDataBlock, kCmdOk, 0, out);
    }
    case kMsgSetParameters: {
      if (!card_ || !powered_) return reply(kReplyParameters, kCmdFailed, kErrCardMute, {});
      if (faults_.failSetParameters || !card_->SetParameters(f.payload, q.b7))
        return reply(kReplyParameters, kCmdFailed, kErrBadParameter, {});
      return reply(kReplyParameters, kCmdOk, 0, f.payload);
    }
    case kMsgXfrBlock: {
      if (!card_ || !powered_) return reply(kReplyDataBlock, kCmdFailed, kErrCardMute, {});
      if (faults_.notReady > 0) {
        --faults_.notReady;
        return reply(kReplyDataBlock, kCmdFailed, kErrNotReady, {});
      }
      if (faults_.cardMute > 0) {
        --faults_.cardMute;
        return reply(kReplyDataBlock, kCmdFailed, kErrCardMute, {});
      }
      CardAnswer a = card_->Transfer(f.payload, q.b7, faults_);
      *cardTimeExt = a.timeExtensions;
      if (a.mute) return reply(kReplyDataBlock, kCmdFailed, kErrCardMute, {});
      return reply(kReplyDataBlock, kCmdOk, 0, a.bytes);
    }
    default:
      return reply(kReplySlotStatus, kCmdFailed, kErrUnsupported, {});
  }
}

void SimReader::QueueAnswer(std::vector<uint8_t> frame, const FrameHeader& req, int cardTimeExt) {
  const int ext = std::max(0, faults_.timeExtensions) + std::max(0, cardTimeExt);
  faults_.timeExtensions = 0;
  for (int i = 0; i < ext; ++i) {
    FrameHeader t{kReplyDataBlock, 0, req.slot, req.seq, static_cast<uint8_t>(kCmdTimeExtension | CardStatus()), 1, 0};
    out_.push_back(BuildFrame(t, {}));
  }
  if (faults_.shortFirstChunk) {
    faults_.shortFirstChunk = false;
    out_.emplace_back(frame.begin(), frame.begin() + 5);
  }
  std::vector<uint8_t> bytes;
  if (faults_.staleAnswer) {
    faults_.staleAnswer = false;
    if (lastAnswer_.empty()) {
      FrameHeader s{kReplySlotStatus, 0, req.slot, static_cast<uint8_t>(req.seq - 1), CardStatus(), 0, 0};
      bytes = BuildFrame(s, {});
    } else {
      bytes = lastAnswer_;
    }
  }
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  for (size_t pos = 0; pos < bytes.size(); pos += kChunkSize) {
    const size_t n = std::min(kChunkSize, bytes.size() - pos);
    out_.emplace_back(bytes.begin() + pos, bytes.begin() + pos + n);
  }
  lastAnswer_ = std::move(frame);
}

void SimReader::Record(const HostFrame& f) {
  received_.push_back(f);
  if (received_.size() > kMaxRecordedFrames) received_.pop_front();
  lastSeq_ = f.header.seq;
  floodReads_ = 0;
}

std::vector<uint8_t> SimReader::FloodChunk() {
  const uint32_t n = floodReads_++;
  switch (faults_.flood) {
    case ReaderFlood::TimeExtensions: {
      FrameHeader t{kReplyDataBlock, 0, 0, lastSeq_, static_cast<uint8_t>(kCmdTimeExtension | CardStatus()), 1, 0};
      return BuildFrame(t, {});
    }
    case ReaderFlood::ShortChunks: {
      FrameHeader h{kReplyDataBlock, 2, 0, lastSeq_, CardStatus(), 0, 0};
      std::vector<uint8_t> f = BuildFrame(h, std::vector<uint8_t>{0x90, 0x00});
      f.resize(5);
      return f;
    }
    case ReaderFlood::ForeignFrames: {
      FrameHeader a{kReplySlotStatus, 0, 0, static_cast<uint8_t>(lastSeq_ - 2), CardStatus(), 0, 0};
      FrameHeader b = a;
      b.seq = static_cast<uint8_t>(lastSeq_ - 1);
      std::vector<uint8_t> f = BuildFrame(a, {});
      const std::vector<uint8_t> g = BuildFrame(b, {});
      f.insert(f.end(), g.begin(), g.end());
      return f;
    }
    case ReaderFlood::EndlessFrame:
    default: {
      std::vector<uint8_t> f(kChunkSize, 0xA5);
      if (n == 0) {
        FrameHeader h{kReplyDataBlock, 0, 0, lastSeq_, CardStatus(), 0, 0};
        const std::vector<uint8_t> header = BuildFrame(h, {});
        std::copy(header.begin(), header.end(), f.begin());
        const uint8_t announced[4] = {0xFF, 0xFF, 0xFF, 0xF0};  // most significant first
        std::copy(announced, announced + 4, f.begin() + 1);
      }
      return f;
    }
  }
}

LinkStatus SimReader::BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t /*timeoutMs*/) {
  std::lock_guard lock(mu_);
  if (got) *got = 0;
  if (unplugged_) return LinkStatus::Unplugged;
  if (stalled_) return LinkStatus::Stalled;
  if (faults_.flood != ReaderFlood::None) {
    const std::vector<uint8_t> chunk = FloodChunk();
    if (faults_.floodReads > 0 && --faults_.floodReads == 0) faults_.flood = ReaderFlood::None;
    const size_t n = std::min(cap, chunk.size());
    if (n && buf) std::memcpy(buf, chunk.data(), n);
    if (got) *got = n;
    return LinkStatus::Ok;
  }
  if (out_.empty()) return LinkStatus::Timeout;
  auto& front = out_.front();
  const size_t n = std::min(cap, front.size());
  if (n && buf) std::memcpy(buf, front.data(), n);
  if (got) *got = n;
  if (n == front.size()) out_.pop_front();
  else front.erase(front.begin(), front.begin() + n);
  return LinkStatus::Ok;
}

LinkStatus SimReader::InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t /*timeoutMs*/) {
  std::lock_guard lock(mu_);
  if (got) *got = 0;
  if (unplugged_) return LinkStatus::Unplugged;
  if (notices_.empty()) return LinkStatus::Timeout;
  const auto& n = notices_.front();
  const size_t k = std::min(cap, n.size());
  if (k && buf) std::memcpy(buf, n.data(), k);
  if (got) *got = k;
  notices_.pop_front();
  return LinkStatus::Ok;
}

LinkStatus SimReader::ClearStall() {
  std::lock_guard lock(mu_);
  if (unplugged_) return LinkStatus::Unplugged;
  stalled_ = false;
  return LinkStatus::Ok;
}

void SimReader::QueueNotice(bool present) {
  if (notices_.size() >= kMaxNotices) notices_.pop_front();
  notices_.push_back({kNotifySlotChange, static_cast<uint8_t>(present ? 0x03 : 0x02)});
}

void SimReader::InsertCard(std::shared_ptr<Card> card) {
  if (!card) return RemoveCard();
  std::unique_lock lock(mu_);
  if (card_ && powered_) card_->PowerOff();
  card_ = std::move(card);
  powered_ = false;
  QueueNotice(true);
  Wake(lock);
}

void SimReader::RemoveCard() {
  std::unique_lock lock(mu_);
  if (!card_) return;
  if (powered_) card_->PowerOff();
  card_.reset();
  powered_ = false;
  QueueNotice(false);
  Wake(lock);
}

std::shared_ptr<Card> SimReader::CurrentCard() const {
  std::lock_guard lock(mu_);
  return card_;
}

bool SimReader::CardPowered() const {
  std::lock_guard lock(mu_);
  return powered_;
}

void SimReader::Unplug() {
  std::unique_lock lock(mu_);
  if (unplugged_) return;
  unplugged_ = true;
  out_.clear();
  notices_.clear();
  Wake(lock);
}

bool SimReader::Unplugged() const {
  std::lock_guard lock(mu_);
  return unplugged_;
}

void SimReader::StallBulk() {
  std::lock_guard lock(mu_);
  stalled_ = true;
}

void SimReader::SetBusy(bool busy) {
  std::lock_guard lock(mu_);
  busy_ = busy;
}

bool SimReader::Busy() const {
  std::lock_guard lock(mu_);
  return busy_;
}

void SimReader::SetFaults(const Faults& f) {
  std::lock_guard lock(mu_);
  faults_ = f;
}

void SimReader::UpdateFaults(const std::function<void(Faults&)>& edit) {
  std::lock_guard lock(mu_);
  edit(faults_);
}

Faults SimReader::GetFaults() const {
  std::lock_guard lock(mu_);
  return faults_;
}

void SimReader::SetEscapeHandler(std::function<std::vector<uint8_t>(std::span<const uint8_t>)> handler) {
  std::lock_guard lock(mu_);
  escape_ = std::move(handler);
}

std::vector<HostFrame> SimReader::Received() const {
  std::lock_guard lock(mu_);
  return {received_.begin(), received_.end()};
}

std::vector<uint8_t> SimReader::ReceivedTypes() const {
  std::lock_guard lock(mu_);
  std::vector<uint8_t> t;
  for (const auto& f : received_) t.push_back(f.header.type);
  return t;
}

void SimReader::ClearReceived() {
  std::lock_guard lock(mu_);
  received_.clear();
}

size_t SimReader::PendingTransfers() const {
  std::lock_guard lock(mu_);
  return out_.size();
}

size_t SimReader::PendingNotices() const {
  std::lock_guard lock(mu_);
  return notices_.size();
}

}  // namespace vqsim
