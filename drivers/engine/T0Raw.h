// T=0 and raw mapping of a caller's request into the transfer-block payload
// and of the card's answer back into the caller's reply.
#pragma once

#include "SmartcardExtension.h"

// Length of the protocol request header {protocol, header length} in front of
// T=0 and T=1 requests and replies (two u32 in host byte order).
constexpr uint32_t ProtocolHeaderSize = 8;

// True when the request still fits behind SendLength in the send buffer.
bool SmartcardRequestFits(SmartcardExtension* SmartcardExtension);

// Raw: the request goes to the card as it is; the reply comes back as it is.
NTSTATUS SmartcardRawRequest(SmartcardExtension* SmartcardExtension);
NTSTATUS SmartcardRawReply(SmartcardExtension* SmartcardExtension);

// T=0: the request is {protocol, 8} + CLA INS P1 P2 [P3 [data]]; the reply
// is the request header followed by what the card answered.
NTSTATUS SmartcardT0Request(SmartcardExtension* SmartcardExtension);
NTSTATUS SmartcardT0Reply(SmartcardExtension* SmartcardExtension);

// Inverse convention: reverses the bit order of each byte and complements it.
void SmartcardInvertData(uint8_t* Buffer, uint32_t Length);
