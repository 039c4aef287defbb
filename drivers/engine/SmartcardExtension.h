// The per-reader context record of the reader protocol engine. Each front end
// (Windows CE stream driver, Mac OS X IFD handler) owns one per reader and
// hands it to every engine routine. The engine is compiled once per driver:
// VQ_BUILD_CE=1 for the Windows CE driver, VQ_BUILD_MAC=1 for the Mac OS X
// handler; the parts differ where the two drivers differ.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "StatusCodes.h"

#if VQ_BUILD_CE
#include <usbdi.h>
#include <windows.h>
#elif VQ_BUILD_MAC
// IOKit user-client interfaces (the handles are pointers to pointers to
// these function tables).
typedef struct IOCFPlugInInterfaceStruct IOCFPlugInInterface;
typedef struct IOUSBDeviceStruct IOUSBDeviceInterface;
typedef struct IOUSBInterfaceStruct IOUSBInterfaceInterface;
#else
#error "build the engine with VQ_BUILD_CE=1 or VQ_BUILD_MAC=1"
#endif

// Version written by the front end before SmartcardInitialize.
constexpr uint32_t SmartcardExtensionVersion = 336;
constexpr uint32_t SmartcardExtensionVersionMin = 256;

// Sizes of the two frame buffers asked for by the front ends, and the
// smallest size SmartcardInitialize accepts.
constexpr uint32_t SmartcardBufferSize = 1024;
constexpr uint32_t SmartcardMinBufferSize = 288;

// Protocol numbers (protocols offered, current protocol, request headers).
constexpr uint32_t ProtocolNone = 0;
constexpr uint32_t ProtocolT0 = 1;
constexpr uint32_t ProtocolT1 = 2;
#if VQ_BUILD_CE
constexpr uint32_t ProtocolRaw = 0x10000;
#else
constexpr uint32_t ProtocolRaw = 4;
#endif
// Current protocol of a card the reader answers with its fixed ATR.
constexpr uint32_t ProtocolFixedCard = 16;

// Card state (ReaderCapabilities.CurrentState), in each build's numbers.
#if VQ_BUILD_CE
constexpr uint32_t CardStateUnknown = 0;
constexpr uint32_t CardStateAbsent = 1;
constexpr uint32_t CardStatePresent = 2;
constexpr uint32_t CardStateSwallowed = 3;
constexpr uint32_t CardStatePowered = 4;
constexpr uint32_t CardStateNegotiable = 5;
constexpr uint32_t CardStateSpecific = 6;
#else
constexpr uint32_t CardStateUnknown = 1;
constexpr uint32_t CardStateAbsent = 2;
constexpr uint32_t CardStatePresent = 4;
constexpr uint32_t CardStateSwallowed = 8;
constexpr uint32_t CardStateNegotiable = 32;
constexpr uint32_t CardStateSpecific = 64;
#endif

// T=1 protocol states (T1State.State); the S-block states carry the PCB they send.
constexpr uint32_t T1StateInit = 0;
constexpr uint32_t T1StateStart = 1;
constexpr uint32_t T1StateIBlock = 2;
constexpr uint32_t T1StateRBlock = 3;
constexpr uint32_t T1StateRestart = 4;
constexpr uint32_t T1StateResyncRequest = 192;
constexpr uint32_t T1StateIfsRequest = 193;
constexpr uint32_t T1StateAbortRequest = 194;
constexpr uint32_t T1StateIfsResponse = 225;
constexpr uint32_t T1StateAbortResponse = 226;
constexpr uint32_t T1StateWtxResponse = 227;

struct SmartcardExtension;
typedef SmartcardExtension* PSMARTCARD_EXTENSION;

// One entry of ClockRateConversion: F and fmax (Hz), indexed by the Fi index.
struct ClockRateEntry {
  uint32_t F;
  uint32_t fs;
};
// One entry of BitRateAdjustment: D = DNumerator / DDivisor, indexed by the Di index.
struct BitRateEntry {
  uint32_t DNumerator;
  uint32_t DDivisor;
};

// A counted text of the vendor attributes.
struct CountedText {
  uint16_t Length;  // counts the terminating zero where there is one
  uint8_t Buffer[32];
};

struct VendorAttributes {
  CountedText VendorName;   // "TERVANE" and a zero, length 8
  CountedText IfdType;      // model designation
  uint32_t UnitNo;          // CE: unit counter, later the device-name digit; Mac: 1
  uint32_t IfdVersion;      // 0
  CountedText IfdSerialNo;  // length 0
};

#if VQ_BUILD_CE
// Reader-function numbers: slots of SmartcardExtension::ReaderFunctions.
constexpr uint32_t RDF_CARD_POWER = 0;
constexpr uint32_t RDF_TRANSMIT = 1;
constexpr uint32_t RDF_CARD_EJECT = 2;
constexpr uint32_t RDF_READER_SWALLOW = 3;
constexpr uint32_t RDF_CARD_TRACKING = 4;
constexpr uint32_t RDF_SET_PROTOCOL = 5;
constexpr uint32_t RDF_CARD_CONFISCATE = 7;
constexpr uint32_t RDF_IOCTL_VENDOR = 8;
constexpr uint32_t RDF_ATR_PARSE = 9;
constexpr uint32_t ReaderFunctionCount = 16;
typedef NTSTATUS (*ReaderFunction)(SmartcardExtension* SmartcardExtension);
#endif

struct CardCapabilities {
  uint8_t InversConvention;  // non-zero: requests inverted before sending, replies after receiving
  uint32_t etu;              // elementary time unit, microseconds

  uint8_t ATR[64];
  uint8_t ATRLength;  // 0 = no ATR

  uint8_t HistoricalChars[16];
  uint8_t HistoricalCount;

  // Conversion tables; kept across SmartcardInitializeCardCapabilities.
  const ClockRateEntry* ClockRateConversion;
  const BitRateEntry* BitRateAdjustment;

  uint8_t Fl;  // Fi index in force (TA1 high nibble, or the PPS result)
  uint8_t Dl;  // Di index in force

  uint8_t II;  // programming current (TB1 bits 7-6)
  uint8_t P;   // programming voltage

  uint8_t N;    // extra guard time (TC1)
  uint32_t GT;  // guard time, microseconds (N x etu)

  uint32_t ProtocolsOffered;  // bit mask: ProtocolT0, ProtocolT1, ProtocolRaw
  uint32_t CurrentProtocol;   // ProtocolNone, T0, T1, Raw or ProtocolFixedCard

  struct {
    uint8_t WI;   // waiting integer, default 10
    uint32_t WT;  // work waiting time, microseconds
    uint32_t Lc;  // of the request in progress
    uint32_t Le;
  } T0;

  struct {
    uint8_t IFSC;  // default 32
    uint8_t CWI;   // default 13
    uint8_t BWI;   // default 4
    uint8_t EDC;   // bit 0: 1 = CRC, 0 = LRC
    uint32_t CWT;  // microseconds
    uint32_t BWT;  // microseconds
  } T1;

  uint8_t PpsMode;  // 0 default, 1 optimal, other: start from PtsFl/PtsDl as stored
  uint8_t PtsFl;    // offered Fi index (PPS1 = PtsFl << 4 | PtsDl)
  uint8_t PtsDl;    // offered Di index

  uint32_t ChosenClock;     // kHz
  uint32_t ChosenDataRate;  // bits per second

  uint8_t GuardMode;  // 2 when TC1 = 0, 1 when TC1 = 255
};

// The call in progress, set by the front end before each engine call.
struct SmartcardIoRequest {
  uint32_t* ReplyLength;  // where the engine stores the length of what it returns
  uint8_t* RequestBuffer;
  uint32_t RequestLength;
  uint8_t* ReplyBuffer;
  uint32_t ReplyBufferSize;
  uint32_t MajorCode;  // CE: the I/O control code
  uint32_t MinorCode;  // first 4 bytes of the caller's input (power mode, protocol mask, tag)
};

#if VQ_BUILD_CE
// Operating-system part of the record; made by SmartcardInitialize.
struct ReaderOsRecord {
  struct SmartcardExtension* Extension;    // back pointer
  CRITICAL_SECTION ReaderLock;             // re-entrant reader lock
  HANDLE CardTrackingEvent;                // auto-reset, starts non-signalled
  HANDLE CancelEvent;                      // auto-reset, starts non-signalled
};
#endif

// A default and a maximum, kept next to each other so that a two-entry list
// {default, maximum} can point at them (count 2).
struct DefaultMax {
  uint32_t Default;
  uint32_t Max;
};
static_assert(offsetof(DefaultMax, Max) == sizeof(uint32_t), "DefaultMax must be a u32 pair");

// A list of u32 values (clocks in kHz, data rates in bit/s).
struct RateList {
  const uint32_t* List;
  uint8_t Entries;
};

struct ReaderCapabilities {
  uint32_t SupportedProtocols;  // 3: T=0 and T=1
  uint32_t ReaderType;          // 0x20: USB
  uint32_t MechProperties;      // characteristics, 0
  uint32_t CurrentState;        // card state, CardState* numbers
  uint32_t Channel;             // channel number, 0

  DefaultMax CLKFrequency;  // kHz
  DefaultMax DataRate;      // bit/s

  uint32_t MaxIFSD;
  uint32_t PowerMgmtSupport;  // 0

  RateList CLKFrequenciesSupported;  // never filled by the front ends
  RateList DataRatesSupported;       // dataRatesSupported, replaced after the reader information
};

// Length of the reader-information payload (ReaderInfoBlock).
constexpr uint32_t ReaderInfoSize = 16;

#if VQ_BUILD_CE
// Size of the area the frame is copied into before the bulk write.
constexpr uint32_t ReaderTransferAreaSize = 524;

// Run state of a Windows CE reader.
constexpr uint32_t RunStateStopped = 0;
constexpr uint32_t RunStateAttached = 1;
constexpr uint32_t RunStateOpen = 2;

struct ReaderDeviceData {
  USB_PIPE BulkInPipe;
  USB_PIPE BulkOutPipe;
  USB_PIPE InterruptInPipe;
  LPCUSB_FUNCS UsbFuncs;   // handed over by the USB host driver at attach
  USB_HANDLE UsbHandle;    // device handle handed over at attach
  HANDLE StreamDevice;     // result of the device activation
  HANDLE InterruptEvent;   // auto-reset
  HANDLE ReadEvent;        // auto-reset
  HANDLE CardStatusThread;
  DWORD CardStatusThreadId;
  volatile LONG RefCount;  // calls in progress; interlocked only
  uint8_t ReaderInfoBlock[ReaderInfoSize + 1];  // payload of 0x60, zero-terminated
  uint8_t ReaderInfoOk;                         // reader information succeeded
  uint8_t FixedAtrCard;                         // the reader answers with its fixed ATR
  uint32_t RunState;                            // RunState*
  uint8_t CardTrackingArmed;                    // set by CCID_SmartcardCardTracking
  uint32_t ReadTimeout;                         // ms
  uint8_t TransferArea[ReaderTransferAreaSize];
  uint32_t FirmwareVersion;
  uint32_t DelayedAtrCard;
};
#else
// Words of the handler's static device description (17 of them); a word
// holds a number or, for the texts, a pointer.
constexpr uint32_t DeviceDescriptionWords = 17;

// Power mode set by the IFD handler before power.
constexpr uint32_t PowerModeDown = 0;
constexpr uint32_t PowerModeReset = 1;
constexpr uint32_t PowerModeUp = 2;

struct ReaderDeviceData {
  uint32_t VendorCode;  // major code of the current vendor call (0x100, 0x101)
  uintptr_t DeviceDescription[DeviceDescriptionWords];  // copy of device_data
  uint8_t BulkInPipe;   // pipe index, 0 = none
  uint8_t BulkOutPipe;  // pipe index, 0 = none
  IOCFPlugInInterface** PlugIn;
  IOUSBDeviceInterface** Device;
  IOUSBInterfaceInterface** Interface;
  uint8_t ReaderInfoBlock[ReaderInfoSize + 1];  // payload of 0x60, zero-terminated
  uint8_t ReaderInfoOk;                         // reader information succeeded
  uint8_t FixedAtrCard;                         // the reader answers with its fixed ATR
  uint32_t ReadTimeout;                         // ms, set by each exchange
  uint32_t PowerMode;                           // PowerMode*
  uint32_t LocationId;                          // of the opened device
  uint16_t TransportBroken;                     // sticky
  uint8_t SlotByte;                             // header byte 5, stays 0
  uint8_t ReaderIndex;                          // table index of the channel
  uint32_t FirmwareVersion;
  uint16_t DelayedAtrCard;
};
#endif

// T=1 block protocol state; survives between calls.
struct T1State {
  uint8_t IFSC;             // of the card
  uint8_t IFSD;             // of the reader
  uint32_t BytesReceived;   // INF bytes of the reply gathered so far
  uint32_t BytesSent;       // INF bytes of the request acknowledged
  uint32_t BytesToSend;     // INF bytes of the request not yet acknowledged
  uint8_t LastError;        // 0 none, 1 EDC error, 2 other error
  uint8_t MoreData;         // the I-block being sent has the chaining bit
  uint8_t NAD;              // node address put into every block
  uint32_t PrevState;       // state to return to; 0 = none
  uint8_t Resend;           // consecutive failed blocks
  uint8_t Resync;           // resynchronisations in this exchange
  uint8_t RSN;              // receive sequence number (0/1)
  uint8_t SSN;              // send sequence number (0/1)
  uint32_t State;           // T1State* numbers
  uint8_t Wtx;              // WTX multiplier of the card's last request
  uint8_t* ReplyData;       // reply copy (malloc/calloc; freed with free)
  uint8_t WaitForReply;     // set by the request routine, cleared by the reply routine
  uint8_t InfBytesSent;     // INF length of the I-block last built
};

struct SmartcardExtension {
  uint32_t Version;  // SmartcardExtensionVersion
  struct VendorAttributes VendorAttributes;
#if VQ_BUILD_CE
  ReaderFunction ReaderFunctions[ReaderFunctionCount];
#endif
  struct CardCapabilities CardCapabilities;
  struct SmartcardIoRequest SmartcardIoRequest;
#if VQ_BUILD_CE
  struct ReaderOsRecord* OsData;
#endif
  struct ReaderCapabilities ReaderCapabilities;
  struct ReaderDeviceData* DeviceData;

  uint8_t* ReplyBuffer;      // frame as received (header + payload)
  uint32_t ReplyBufferSize;  // at least SmartcardMinBufferSize
  uint32_t ReceivedLength;   // bytes of the current reply frame (or payload, after dispatch)

  uint8_t* SendBuffer;      // frame under construction (header + payload)
  uint32_t SendBufferSize;  // at least SmartcardMinBufferSize
  uint32_t SendLength;      // header + payload to send; 0 = nothing

  struct T1State T1State;
};
