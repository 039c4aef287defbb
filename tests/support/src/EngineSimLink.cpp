#include "vqtest/EngineSimLink.h"

#include <cstring>
#include <map>
#include <mutex>

#include "Atr.h"
#include "Frame.h"
#include "Smartcard.h"
#include "Transport.h"

namespace vqtest {
namespace {

struct Attachment {
  vqsim::UsbLink* link = nullptr;
  LinkStats stats;
};

std::mutex& Mutex() {
  static std::mutex m;
  return m;
}

std::map<const SmartcardExtension*, Attachment>& Table() {
  static std::map<const SmartcardExtension*, Attachment> table;
  return table;
}

Attachment* Find(const SmartcardExtension* ext) {
  auto it = Table().find(ext);
  return it == Table().end() ? nullptr : &it->second;
}

void SetText(CountedText& text, const char* value) {
  const size_t n = std::strlen(value);
  std::memset(text.Buffer, 0, sizeof text.Buffer);
  std::memcpy(text.Buffer, value, n);
  text.Length = static_cast<uint16_t>(n + 1);
}

}  // namespace

void AttachLink(SmartcardExtension* ext, vqsim::UsbLink* link) {
  std::lock_guard<std::mutex> lock(Mutex());
  if (link == nullptr) {
    Table().erase(ext);
  } else {
    Table()[ext] = Attachment{link, {}};
  }
}

LinkStats Stats(SmartcardExtension* ext) {
  std::lock_guard<std::mutex> lock(Mutex());
  Attachment* a = Find(ext);
  return a ? a->stats : LinkStats{};
}

void ResetStats(SmartcardExtension* ext) {
  std::lock_guard<std::mutex> lock(Mutex());
  if (Attachment* a = Find(ext)) a->stats = {};
}

EngineReader::EngineReader(vqsim::UsbLink& link) {
  ext_.Version = SmartcardExtensionVersion;
  ext_.SendBufferSize = SmartcardBufferSize;
  ext_.ReplyBufferSize = SmartcardBufferSize;
  ext_.DeviceData = &dev_;
  initStatus_ = SmartcardInitialize(&ext_);

  SetText(ext_.VendorAttributes.VendorName, "TERVANE");
  ReaderCapabilities& rc = ext_.ReaderCapabilities;
  rc.SupportedProtocols = ProtocolT0 | ProtocolT1;
  rc.ReaderType = 0x20;
  rc.CLKFrequency = {3571, 3571};
  rc.DataRate = {dataRatesSupported[0], dataRatesSupported[0]};
  rc.DataRatesSupported = {dataRatesSupported, dataRatesSupportedCount};
  rc.CurrentState = CardStateUnknown;
#if VQ_BUILD_CE
  SetText(ext_.VendorAttributes.IfdType, "VQ480T");
  rc.MaxIFSD = 251;
  dev_.ReadTimeout = ReadTimeoutCommand;
#else
  SetText(ext_.VendorAttributes.IfdType, "VQUSB");
  ext_.VendorAttributes.UnitNo = 1;
  rc.MaxIFSD = 240;
  dev_.ReadTimeout = 10000;
#endif
  AttachLink(&ext_, &link);
}

EngineReader::~EngineReader() {
  AttachLink(&ext_, nullptr);
  SmartcardExit(&ext_);
}

void EngineReader::SetSequence(uint8_t next) { GlobalSeqNum = next; }

}  // namespace vqtest

using vqtest::Attachment;

NTSTATUS UsbBulkWrite(SmartcardExtension* ext, const uint8_t* bytes, uint32_t length) {
  vqsim::UsbLink* link;
  {
    std::lock_guard<std::mutex> lock(vqtest::Mutex());
    Attachment* a = vqtest::Find(ext);
    if (a == nullptr) return STATUS_UNSUCCESSFUL;
    ++a->stats.writes;
    link = a->link;
  }
  return link->BulkOut(bytes, length) == vqsim::LinkStatus::Ok ? STATUS_SUCCESS
                                                               : STATUS_UNSUCCESSFUL;
}

NTSTATUS UsbBulkRead(SmartcardExtension* ext, uint8_t* buffer, uint32_t size, uint32_t* length) {
  vqsim::UsbLink* link;
  const uint32_t timeout = ext->DeviceData != nullptr ? ext->DeviceData->ReadTimeout : 0;
  {
    std::lock_guard<std::mutex> lock(vqtest::Mutex());
    Attachment* a = vqtest::Find(ext);
    if (a == nullptr) return STATUS_UNSUCCESSFUL;
    ++a->stats.reads;
    a->stats.readTimeouts.push_back(timeout);
    link = a->link;
  }
  size_t got = 0;
  const vqsim::LinkStatus status = link->BulkIn(buffer, size, &got, timeout);
  if (status == vqsim::LinkStatus::Ok) {
    *length = static_cast<uint32_t>(got);
    return STATUS_SUCCESS;
  }
  *length = 0;
  if (status == vqsim::LinkStatus::Timeout) {
    std::lock_guard<std::mutex> lock(vqtest::Mutex());
    if (Attachment* a = vqtest::Find(ext)) a->stats.waitedMs += timeout;
  }
  return STATUS_UNSUCCESSFUL;
}

#if VQ_BUILD_CE
NTSTATUS UsbInterruptRead(SmartcardExtension* ext, uint8_t* buffer, uint32_t size) {
  vqsim::UsbLink* link;
  {
    std::lock_guard<std::mutex> lock(vqtest::Mutex());
    Attachment* a = vqtest::Find(ext);
    if (a == nullptr) return STATUS_UNSUCCESSFUL;
    link = a->link;
  }
  size_t got = 0;
  return link->InterruptIn(buffer, size, &got, 0) == vqsim::LinkStatus::Ok ? STATUS_SUCCESS
                                                                           : STATUS_UNSUCCESSFUL;
}
#endif
