#include "FuzzPlayback.h"

#include <cstring>

std::deque<Chunk> g_chunks;
uint32_t g_reads = 0;
uint32_t g_writes = 0;

namespace {

// The reader's frame: sequence offset in the header, bytes per transfer.
constexpr size_t kSequenceOffset = 6;
constexpr size_t kChunk = 512;

uint8_t g_lastSequence = 0;
// Chunks the reader sends again and again once the queue is empty (a reader
// that never stops answering); empty: an empty queue reads as a time-out.
std::vector<Chunk> g_forever;
// Answers one input may queue: enough for every bound of the engine to be
// reached, few enough that one run stays short.
constexpr size_t MaxChunks = 4096;

uint16_t Crc16(const uint8_t* bytes, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

}  // namespace

void ResetPlayback() {
  g_chunks.clear();
  g_forever.clear();
  g_reads = 0;
  g_writes = 0;
}

void QueueChunk(std::vector<uint8_t> bytes, bool stampSequence) {
  if (g_chunks.size() >= MaxChunks) return;
  g_chunks.push_back(Chunk{std::move(bytes), stampSequence, Failure::None});
}

void QueueFailure(Failure failure) {
  if (g_chunks.size() >= MaxChunks) return;
  g_chunks.push_back(Chunk{{}, false, failure});
}

static void QueueFrameWithLength(uint8_t type, uint32_t length, uint8_t status, uint8_t error,
                                 const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame{type,
                             static_cast<uint8_t>(length >> 24),
                             static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length),
                             0,
                             0,
                             status,
                             error,
                             0};
  frame.insert(frame.end(), payload.begin(), payload.end());
  for (size_t at = 0; at < frame.size(); at += kChunk) {
    const size_t end = frame.size() - at > kChunk ? at + kChunk : frame.size();
    QueueChunk(std::vector<uint8_t>(frame.begin() + at, frame.begin() + end), at == 0);
  }
}

void QueueFrame(uint8_t type, uint8_t status, uint8_t error, const std::vector<uint8_t>& payload) {
  QueueFrameWithLength(type, static_cast<uint32_t>(payload.size()), status, error, payload);
}

std::vector<uint8_t> T1Block(uint8_t nad, uint8_t pcb, const std::vector<uint8_t>& inf, bool crc) {
  const size_t len = inf.size() < 255 ? inf.size() : 255;
  std::vector<uint8_t> block{nad, pcb, static_cast<uint8_t>(len)};
  block.insert(block.end(), inf.begin(), inf.begin() + static_cast<long>(len));
  if (crc) {
    const uint16_t c = Crc16(block.data(), block.size());
    block.push_back(static_cast<uint8_t>(c >> 8));
    block.push_back(static_cast<uint8_t>(c));
  } else {
    uint8_t lrc = 0;
    for (uint8_t b : block) lrc ^= b;
    block.push_back(lrc);
  }
  return block;
}

void QueueAnswers(FuzzInput& in, int t1Crc) {
  size_t previous = 0;  // chunks the last answer queued
  while (!in.Empty() && g_chunks.size() < MaxChunks) {
    const size_t before = g_chunks.size();
    const uint8_t kind = in.Byte();
    switch (kind % 8) {
      case 0:
      case 1:
        QueueChunk(in.Take(in.Word() % (kChunk + 1)), kind & 1);
        break;
      case 2: {
        const uint8_t type = in.Byte(), status = in.Byte(), error = in.Byte();
        QueueFrame(type, status, error, in.Take(in.Word() % 1100));
        break;
      }
      case 3: {  // a frame whose header announces another length than it carries
        const uint8_t type = in.Byte(), status = in.Byte();
        const uint32_t length = in.U32();
        QueueFrameWithLength(type, length, status, 0, in.Take(in.Byte()));
        break;
      }
      case 4:  // the reader asks for more time
        QueueFrame(0x80, static_cast<uint8_t>(0x80 | (kind >> 3 & 3)), 0, {});
        break;
      case 5: {
        static const Failure kinds[] = {Failure::Timeout, Failure::Stalled, Failure::Unplugged,
                                        Failure::Error};
        QueueFailure(kinds[kind >> 3 & 3]);
        break;
      }
      case 6: {
        // Card status from bits 3-4, a failed command from bit 5.
        const uint8_t status = static_cast<uint8_t>((kind >> 3 & 3) | ((kind & 0x20) ? 0x40 : 0));
        if (t1Crc < 0) {
          QueueFrame(0x80, status, 0, in.Take(in.Byte()));
          break;
        }
        const uint8_t nad = in.Byte(), pcb = in.Byte();
        std::vector<uint8_t> block = T1Block(nad, pcb, in.Take(in.Byte()), t1Crc == 1);
        if (kind & 0x80) block[in.Byte() % block.size()] ^= 0x01;  // a damaged block
        QueueFrame(0x80, status, 0, block);
        break;
      }
      case 7: {  // the last answer again, many times or without end
        const uint32_t times = in.Byte();
        if (times == 255) {
          g_forever.assign(g_chunks.end() - static_cast<long>(previous), g_chunks.end());
          return;
        }
        for (uint32_t t = 0; t < times && g_chunks.size() + previous <= MaxChunks; ++t)
          for (size_t i = 0; i < previous; ++i) {
            Chunk again = g_chunks[before - previous + i];
            g_chunks.push_back(std::move(again));
          }
        break;
      }
    }
    if (kind % 8 != 7) previous = g_chunks.size() - before;
  }
}

void NoteWritten(const uint8_t* bytes, size_t length) {
  ++g_writes;
  if (length > kSequenceOffset) g_lastSequence = bytes[kSequenceOffset];
}

Failure NextChunk(uint8_t* buffer, uint32_t size, uint32_t* length) {
  ++g_reads;
  *length = 0;
  if (g_chunks.empty()) g_chunks.insert(g_chunks.end(), g_forever.begin(), g_forever.end());
  if (g_chunks.empty()) return Failure::Timeout;
  Chunk c = std::move(g_chunks.front());
  g_chunks.pop_front();
  if (c.failure != Failure::None) return c.failure;
  if (c.stampSequence && c.bytes.size() > kSequenceOffset) c.bytes[kSequenceOffset] = g_lastSequence;
  const uint32_t n = c.bytes.size() < size ? static_cast<uint32_t>(c.bytes.size()) : size;
  if (n) std::memcpy(buffer, c.bytes.data(), n);
  *length = n;
  return Failure::None;
}
