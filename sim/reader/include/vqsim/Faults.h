// Faults the simulated reader and its card produce on demand. Counters count
// down as the fault is produced; flags stay until cleared.
#pragma once

#include <cstdint>

namespace vqsim {

enum class PpsAnswer {
  Accept,  // the card echoes the request and takes the new Fi/Di
  Refuse,  // the card stays mute: the reader fails the transfer with 0xFE
  Wrong,   // the card answers a different PPS1 (with a correct PCK)
};

// A reader that never settles: while set, the reader sends this on every
// bulk-in read and holds back every answer (requests are still taken).
enum class ReaderFlood {
  None,
  TimeExtensions,  // a time-extension frame for the last request
  ShortChunks,     // a 5-byte chunk: the first bytes of a header
  ForeignFrames,   // one chunk of two frames of earlier requests' sequence numbers
  EndlessFrame,    // a frame announcing 0xFFFFFFF0 payload bytes, then 512 bytes of it per read
};

// A T=1 card that never settles: while set, it answers every I-block,
// R-block and S-response of the host this way (S-requests of the host, such
// as IFS or resync, are still answered).
enum class CardFlood {
  None,
  Wtx,         // S(WTX request) with multiplier 1
  Ifs,         // S(IFS request) offering 32
  Abort,       // S(abort request)
  EmptyChain,  // an empty I-block with the more-data bit
};

struct Faults {
  // --- frame layer (every answer) ---
  int timeExtensions = 0;         // time-extension frames before the next answer
  bool staleAnswer = false;       // next answer comes behind a copy of the previous one, in one chunk
  bool shortFirstChunk = false;   // next answer is preceded by a 5-byte chunk (its own first bytes)
  bool muteReader = false;        // no answer at all to any request while set
  int muteAnswers = 0;            // the next N requests get no answer
  ReaderFlood flood = ReaderFlood::None;
  int floodReads = 0;             // non-zero: the flood lasts this many bulk-in reads, and the
                                  // answers of the requests taken meanwhile follow it

  // --- transfer block, reader level ---
  int cardMute = 0;               // next N transfers fail with error 0xFE
  int notReady = 0;               // next N transfers fail with error 0xBE
  bool failSetParameters = false; // set parameters answers "failed"
  PpsAnswer pps = PpsAnswer::Accept;

  // --- block protocol, card level (the card's next blocks) ---
  int corruptEdc = 0;             // next N blocks the card sends carry a wrong EDC
  bool wrongNs = false;           // next I-block of the card has the wrong N(S) (then resent right)
  bool unknownSBlock = false;     // next answer is the undefined S-block 0xC5
  bool vppError = false;          // next answer is S(VPP error) 0xE4
  uint8_t wtxRequest = 0;         // non-zero: S(WTX request, m) before the next I-block answer
  uint8_t cardIfsRequest = 0;     // non-zero: S(IFS request, n) before the next I-block answer
  int rBlockRequests = 0;         // next N host I-blocks are answered with R(error 1) instead
  bool ignoreResync = false;      // a resync request gets an R-block instead of S(0xE0)
  CardFlood cardFlood = CardFlood::None;
  int cardFloodBlocks = 0;        // non-zero: the card's flood lasts this many blocks; a WTX, IFS
                                  // or empty-chain flood stands in front of the command's answer
                                  // (the host's next block after it gets the answer), an abort
                                  // flood answers the host's blocks instead of taking them
};

}  // namespace vqsim
