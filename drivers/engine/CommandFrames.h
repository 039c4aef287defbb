// Helpers of the reader commands for building request frames and reading the
// reader's answers (internal to the command layer).
#pragma once

#include "SmartcardExtension.h"

// Header of a request frame at the start of the send buffer; SendLength
// becomes Length + 10 in both builds.
void CommandSetHeader(SmartcardExtension* SmartcardExtension, uint8_t Type, uint32_t Length,
                      uint8_t P1);

// Sends a request of the given type with Length payload bytes and collects
// the answer (CCID_ReadWrite). A payload that does not fit the send buffer
// gives STATUS_BUFFER_TOO_SMALL.
NTSTATUS CommandExchange(SmartcardExtension* SmartcardExtension, uint8_t Type,
                         const uint8_t* Payload, uint32_t Length, uint8_t P1);

// The command status bits of a reply status byte say success.
bool CommandSucceeded(uint8_t Status);

// Type and status byte of the frame in the reply buffer.
uint8_t ReplyType(const SmartcardExtension* SmartcardExtension);
uint8_t ReplyStatus(const SmartcardExtension* SmartcardExtension);

// Payload bytes of the reply frame that are really there: the announced
// length, but no more than the frame held.
uint32_t ReplyPayloadHeld(const SmartcardExtension* SmartcardExtension);

// Copies to the caller's reply buffer as much as fits and stores that count
// as the reply length.
void ReturnToCaller(SmartcardExtension* SmartcardExtension, const uint8_t* Data, uint32_t Length);
