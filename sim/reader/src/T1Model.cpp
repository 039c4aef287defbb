#include "vqsim/Cards.h"

#include <algorithm>

namespace vqsim {

void T1Model::OnReset() {
  ns_ = nr_ = 0;
  ifsd_ = 32;
  ifsc_ = Info().ifsc;
  nad_ = 0;
  rx_.clear();
  tx_.clear();
  txPos_ = 0;
  lastBlock_.clear();
  held_ = Held::None;
  resyncs_ = 0;
}

std::vector<uint8_t> T1Model::Block(uint8_t pcb, std::span<const uint8_t> inf, Faults& /*faults*/) const {
  // The answer goes back to where the request came from: source and
  // destination addresses of the NAD swapped.
  const uint8_t nad = static_cast<uint8_t>(((nad_ & 0x07) << 4) | ((nad_ >> 4) & 0x07));
  std::vector<uint8_t> b{nad, pcb, static_cast<uint8_t>(inf.size())};
  b.insert(b.end(), inf.begin(), inf.end());
  if (Info().crc) {
    const uint16_t crc = Crc16(b);
    b.push_back(static_cast<uint8_t>(crc >> 8));
    b.push_back(static_cast<uint8_t>(crc));
  } else {
    b.push_back(Lrc(b));
  }
  return b;
}

std::vector<uint8_t> T1Model::Send(std::vector<uint8_t> block, Faults& faults) {
  lastBlock_ = block;
  if (faults.corruptEdc > 0) {
    --faults.corruptEdc;
    block.back() ^= 0x5A;
  }
  return block;
}

std::vector<uint8_t> T1Model::RBlock(uint8_t error, Faults& faults) {
  return Send(Block(static_cast<uint8_t>(0x80 | nr_ << 4 | error), {}, faults), faults);
}

std::vector<uint8_t> T1Model::NextChainBlock(Faults& faults) {
  const size_t left = tx_.size() - txPos_;
  const size_t n = std::min<size_t>(left, ifsd_);
  const bool more = left > n;
  uint8_t pcb = static_cast<uint8_t>(ns_ << 6 | (more ? 0x20 : 0));
  std::vector<uint8_t> block = Block(pcb, std::span(tx_).subspan(txPos_, n), faults);
  ns_ ^= 1;
  txPos_ += n;
  if (!faults.wrongNs) return Send(std::move(block), faults);
  faults.wrongNs = false;
  std::vector<uint8_t> bad = Block(static_cast<uint8_t>(pcb ^ 0x40), std::span(tx_).subspan(txPos_ - n, n), faults);
  bad = Send(std::move(bad), faults);
  lastBlock_ = std::move(block);  // the right block is the one to resend
  return bad;
}

std::vector<uint8_t> T1Model::Flood(Faults& faults) {
  switch (faults.cardFlood) {
    case CardFlood::Wtx: {
      const uint8_t m[1] = {1};
      return Send(Block(0xC3, m, faults), faults);
    }
    case CardFlood::Ifs: {
      const uint8_t n[1] = {32};
      return Send(Block(0xC1, n, faults), faults);
    }
    case CardFlood::Abort:
      return Send(Block(0xC2, {}, faults), faults);
    case CardFlood::EmptyChain:
    default: {
      std::vector<uint8_t> block = Block(static_cast<uint8_t>(ns_ << 6 | 0x20), {}, faults);
      ns_ ^= 1;
      return Send(std::move(block), faults);
    }
  }
}

std::vector<uint8_t> T1Model::FiniteFlood(Faults& faults) {
  const CardFlood kind = faults.cardFlood;
  std::vector<uint8_t> block = Flood(faults);
  held_ = kind == CardFlood::Abort ? Held::None : Held::Flood;
  if (--faults.cardFloodBlocks == 0) {
    faults.cardFlood = CardFlood::None;
    // The host's response to the last one gets the command's answer.
    held_ = kind == CardFlood::Wtx ? Held::Wtx : kind == CardFlood::Ifs ? Held::Ifs : Held::None;
    heldIfs_ = 32;
  }
  return block;
}

CardAnswer T1Model::Exchange(std::span<const uint8_t> in, uint8_t /*p1*/, Faults& faults) {
  auto out = [](std::vector<uint8_t> b) { return CardAnswer{false, std::move(b), 0}; };
  const size_t edcLen = Info().crc ? 2 : 1;
  if (in.size() < 3 + edcLen || in[2] == 0xFF || in.size() != 3 + in[2] + edcLen) return out(RBlock(2, faults));
  const auto body = in.first(3 + in[2]);
  const bool edcOk = Info().crc ? Crc16(body) == (in[3 + in[2]] << 8 | in[4 + in[2]]) : Lrc(body) == in[3 + in[2]];
  if (!edcOk) return out(RBlock(1, faults));
  nad_ = in[0];
  const uint8_t pcb = in[1];
  const auto inf = in.subspan(3, in[2]);

  const bool hostRequest = pcb == 0xC0 || pcb == 0xC1 || pcb == 0xC2;
  if (faults.cardFlood != CardFlood::None && !hostRequest) {
    if (faults.cardFloodBlocks <= 0) return out(Flood(faults));
    if (faults.cardFlood == CardFlood::Abort || held_ == Held::Flood) return out(FiniteFlood(faults));
    // Otherwise the command is taken first and the flood stands in front of its answer.
  }

  if (faults.unknownSBlock) {
    faults.unknownSBlock = false;
    return out(Send(Block(0xC5, {}, faults), faults));
  }
  if (faults.vppError) {
    faults.vppError = false;
    return out(Send(Block(0xE4, {}, faults), faults));
  }

  if ((pcb & 0x80) == 0) {  // I-block
    if (held_ != Held::None) return out(RBlock(2, faults));
    if (faults.rBlockRequests > 0) {
      --faults.rBlockRequests;
      return out(RBlock(1, faults));
    }
    if (((pcb >> 6) & 1) != nr_ || inf.size() > ifsc_) return out(RBlock(2, faults));
    nr_ ^= 1;
    if (rx_.empty()) {
      tx_.clear();  // a new command ends what was left of an earlier answer
      txPos_ = 0;
    }
    rx_.insert(rx_.end(), inf.begin(), inf.end());
    if (pcb & 0x20) return out(RBlock(0, faults));  // chained: ask for the next part
    lastApdu_ = rx_;
    rx_.clear();
    tx_ = applet_.Process(lastApdu_);
    txPos_ = 0;
    if (faults.cardFlood != CardFlood::None && faults.cardFloodBlocks > 0) return out(FiniteFlood(faults));
    if (faults.wtxRequest) {
      const uint8_t m[1] = {faults.wtxRequest};
      faults.wtxRequest = 0;
      held_ = Held::Wtx;
      return out(Send(Block(0xC3, m, faults), faults));
    }
    if (faults.cardIfsRequest) {
      const uint8_t n[1] = {faults.cardIfsRequest};
      heldIfs_ = faults.cardIfsRequest;
      faults.cardIfsRequest = 0;
      held_ = Held::Ifs;
      return out(Send(Block(0xC1, n, faults), faults));
    }
    return out(NextChainBlock(faults));
  }

  if ((pcb & 0xC0) == 0x80) {  // R-block
    const uint8_t nr = (pcb >> 4) & 1;
    if (held_ == Held::None && txPos_ < tx_.size() && nr == ns_) return out(NextChainBlock(faults));
    if (lastBlock_.empty()) return out(RBlock(2, faults));
    return out(Send(lastBlock_, faults));  // the host missed our last block
  }

  // S-blocks
  switch (pcb) {
    case 0xC0:  // resync
      if (faults.ignoreResync) return out(RBlock(2, faults));
      ns_ = nr_ = 0;
      rx_.clear();
      tx_.clear();
      txPos_ = 0;
      held_ = Held::None;
      ++resyncs_;
      return out(Send(Block(0xE0, {}, faults), faults));
    case 0xC1:  // IFS request: the host's IFSD
      if (inf.size() != 1 || inf[0] == 0 || inf[0] == 0xFF) return out(RBlock(2, faults));
      ifsd_ = inf[0];
      return out(Send(Block(0xE1, inf, faults), faults));
    case 0xC2:  // abort
      rx_.clear();
      tx_.clear();
      txPos_ = 0;
      held_ = Held::None;
      return out(Send(Block(0xE2, {}, faults), faults));
    case 0xE3:  // WTX response
      if (held_ != Held::Wtx || inf.size() != 1) return out(RBlock(2, faults));
      held_ = Held::None;
      return out(NextChainBlock(faults));
    case 0xE1:  // IFS response to the card's request
      if (held_ != Held::Ifs || inf.size() != 1 || inf[0] != heldIfs_) return out(RBlock(2, faults));
      held_ = Held::None;
      ifsc_ = heldIfs_;
      return out(NextChainBlock(faults));
    default:
      return out(RBlock(2, faults));
  }
}

}  // namespace vqsim
