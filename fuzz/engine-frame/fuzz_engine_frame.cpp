// Feeds the frame exchange (either engine build) a hostile reader: the
// answers to one request frame (chunks of any length and content, frames
// with our sequence number or another, lying lengths, time extensions,
// time-outs, answers that never stop) come from the input.
//
// Input: sequence counter, type of the request frame, current protocol,
// then the reader's answers (see QueueAnswers). FUZZ_VERBOSE=1 prints the
// exchange's result.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Frame.h"
#include "FuzzReader.h"
#include "Smartcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader reader;
  SmartcardExtension* ext = &reader.ext;
  FuzzInput in{data, size};
  GlobalSeqNum = in.Byte();
  const uint8_t type = in.Byte();
  ext->CardCapabilities.CurrentProtocol = in.Byte() % 5;
  ResetPlayback();
  QueueAnswers(in);

#if VQ_BUILD_CE
  CCIDSetCCIDHeader(ext, type, 0, 0, 0, 0, 0);
#else
  CCIDSetCCIDHeader(ext->SendBuffer, type, 0, 0, 0, 0, 0);
  ext->SendLength = ReaderHeaderSize;
#endif
  const NTSTATUS status = CCID_ReadWrite(ext);
  if (std::getenv("FUZZ_VERBOSE")) {
    std::fprintf(stderr, "exchange -> 0x%08X received %u, %u reads\n", static_cast<unsigned>(status),
                 ext->ReceivedLength, g_reads);
  }

  // Whatever the reader sent, the frame held stays inside the reply buffer;
  // a success holds one whole frame, and never a time extension.
  if (ext->ReceivedLength > ext->ReplyBufferSize) __builtin_trap();
  if (status == STATUS_SUCCESS) {
    const uint8_t* frame = ext->ReplyBuffer;
    if (ext->ReceivedLength < ReaderHeaderSize) __builtin_trap();
    if (uint64_t{ReaderFrameLength(frame)} + ReaderHeaderSize > ext->ReceivedLength) __builtin_trap();
    if ((frame[ReaderOffsetStatus] & 0xC0) == 0x80) __builtin_trap();
  }
  return 0;
}
