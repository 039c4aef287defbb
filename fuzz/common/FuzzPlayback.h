// A reader that plays back answers taken from the fuzz input, for every
// target that drives a transport. The playback never waits: a read with no
// answer left, or an answer scripted as a time-out, fails at once as a read
// that timed out does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "FuzzInput.h"

// How a read fails: the reader sent nothing in time, its endpoint halted,
// it was pulled out, or the transfer broke otherwise.
enum class Failure { None, Timeout, Stalled, Unplugged, Error };

// One bulk-in transfer of the reader.
struct Chunk {
  std::vector<uint8_t> bytes;
  // Byte 6 gets the sequence number of the last frame written, so that the
  // exchange takes the chunk for the answer to that frame.
  bool stampSequence = false;
  Failure failure = Failure::None;  // the read fails instead
};

extern std::deque<Chunk> g_chunks;
extern uint32_t g_reads;   // bulk reads since ResetPlayback
extern uint32_t g_writes;  // bulk writes since ResetPlayback

void ResetPlayback();
// A raw chunk (at most 512 bytes are delivered by one read).
void QueueChunk(std::vector<uint8_t> bytes, bool stampSequence = false);
// A whole reader frame with the sequence of the frame it answers, in chunks
// of 512 bytes as the reader sends it.
void QueueFrame(uint8_t type, uint8_t status, uint8_t error, const std::vector<uint8_t>& payload);
void QueueFailure(Failure failure = Failure::Timeout);
// A T=1 block of the card with NAD, PCB, LEN and the EDC filled in (LRC, or
// CRC-16 with `crc`); QueueAnswers sends it in a data-block frame.
std::vector<uint8_t> T1Block(uint8_t nad, uint8_t pcb, const std::vector<uint8_t>& inf, bool crc);

// Decodes reader answers from the rest of the input, each one led by a kind
// byte: a raw chunk, a well-formed frame, a frame whose header lies about
// its length, a time-extension frame, a failed read (time-out, stall,
// unplug, other), a frame carrying a
// well-formed T=1 block checked with the LRC (`t1Crc` 0) or the CRC (1), or
// the last answer repeated: a number of times, or without end (a reader or
// card that never gives up: only a bounded exchange ends then).
void QueueAnswers(FuzzInput& in, int t1Crc = -1);

// What the host writes (the sequence number of a frame is remembered), and
// the next chunk the reader sends, or how the read fails.
void NoteWritten(const uint8_t* bytes, size_t length);
Failure NextChunk(uint8_t* buffer, uint32_t size, uint32_t* length);
