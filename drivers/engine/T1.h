// The T=1 block protocol: one block of the caller's request at a time goes
// into the send buffer, one block of the card comes back. The transmit
// command repeats request and reply while the reply routine asks for more.
#pragma once

#include "SmartcardExtension.h"

// PCB values and masks of the three block kinds.
constexpr uint8_t T1PcbRBlock = 0x80;
constexpr uint8_t T1PcbSBlock = 0xC0;
constexpr uint8_t T1PcbBlockKind = 0xC0;  // I-block: bit 7 clear
constexpr uint8_t T1PcbIBlockNs = 0x40;
constexpr uint8_t T1PcbIBlockMore = 0x20;
constexpr uint8_t T1PcbRBlockNr = 0x10;
constexpr uint8_t T1PcbResyncResponse = 0xE0;
constexpr uint8_t T1PcbIfsResponse = 0xE1;
constexpr uint8_t T1PcbAbortResponse = 0xE2;
constexpr uint8_t T1PcbWtxResponse = 0xE3;
constexpr uint8_t T1PcbVppError = 0xE4;
constexpr uint8_t T1PcbIfsRequest = 0xC1;
constexpr uint8_t T1PcbAbortRequest = 0xC2;
constexpr uint8_t T1PcbWtxRequest = 0xC3;

// Bounds of one T=1 exchange (one transmit) that the block protocol's own
// resend and resync counters do not set:
// - the card's WTX requests in a row while no data moves: each grants at
//   least one more block waiting time; past this many the exchange ends with
//   STATUS_IO_TIMEOUT.
constexpr uint32_t T1MaxWtxRequests = 255;
// - the card's IFS requests in a row while no data moves, and its abort
//   requests in one exchange (each starts the command over): past these the
//   exchange ends with STATUS_DEVICE_PROTOCOL_ERROR.
constexpr uint32_t T1MaxIfsRequests = 3;
constexpr uint32_t T1MaxAborts = 3;
// - chained I-blocks of the card's reply: every block of a chain but the last
//   carries a byte at least, so a chain has no more blocks than the caller's
//   reply buffer has room for bytes behind the request header, and no more
//   than this many empty ones in a row (a large buffer would otherwise let
//   a card hold the reader for thousands of blocks); beyond either,
//   STATUS_DEVICE_PROTOCOL_ERROR.
constexpr uint32_t T1MaxEmptyChained = 3;

// Block prologue (NAD, PCB, LEN) and the EDC sizes.
constexpr uint32_t T1PrologueSize = 3;
constexpr uint8_t T1EdcCrc = 1;  // bit 0 of the card's T=1 EDC byte

// Appends one block at SendLength: STATUS_SUCCESS, STATUS_BUFFER_TOO_SMALL,
// STATUS_INSUFFICIENT_RESOURCES, STATUS_INTERNAL_ERROR,
// STATUS_INVALID_DEVICE_STATE or STATUS_INVALID_PARAMETER (a request whose
// protocol header does not fit its own length).
NTSTATUS SmartcardT1Request(SmartcardExtension* SmartcardExtension);

// Processes the card's block at the start of the reply buffer (ReceivedLength
// bytes): STATUS_MORE_PROCESSING_REQUIRED (send the next block), STATUS_SUCCESS
// (reply complete and copied to the caller) or a failure.
NTSTATUS SmartcardT1Reply(SmartcardExtension* SmartcardExtension);

// Ends the exchange under way as a failure ends it: state start (or IFS
// request when that is still due), reply copy freed, previous state and NAD
// 0; sequence numbers and IFSC keep their values.
void SmartcardT1EndExchange(SmartcardExtension* SmartcardExtension);

// EDC over NAD, PCB, LEN and INF (3 + LEN bytes): LRC, or with bit 0 of Edc
// the CRC-16 (reflected 0xA001, initial 0), high byte first. Not verifying:
// writes the EDC behind INF and returns true. Verifying: whether the stored
// EDC matches.
bool SmartcardT1Chksum(uint8_t* Block, uint8_t Edc, bool Verify);

#if VQ_BUILD_CE
// *Out = A + B + C; when an addition wraps, *Out = 0xFFFFFFFF and the result
// is INTSAFE_E_ARITHMETIC_OVERFLOW.
NTSTATUS CheckedULongAdd(uint32_t A, uint32_t B, uint32_t C, uint32_t* Out);
#endif
