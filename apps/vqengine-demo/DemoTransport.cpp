#include "DemoTransport.h"

#include "Transport.h"

namespace {
vqsim::UsbLink* g_link = nullptr;
}

void DemoAttachReader(vqsim::UsbLink* link) { g_link = link; }

NTSTATUS UsbBulkWrite(SmartcardExtension*, const uint8_t* bytes, uint32_t length) {
  if (g_link == nullptr) return STATUS_UNSUCCESSFUL;
  return g_link->BulkOut(bytes, length) == vqsim::LinkStatus::Ok ? STATUS_SUCCESS
                                                                 : STATUS_UNSUCCESSFUL;
}

NTSTATUS UsbBulkRead(SmartcardExtension* ext, uint8_t* buffer, uint32_t size, uint32_t* length) {
  *length = 0;
  if (g_link == nullptr) return STATUS_UNSUCCESSFUL;
  size_t got = 0;
  // The in-process reader answers at once; nothing there means the read
  // time-out would have run out.
  if (g_link->BulkIn(buffer, size, &got, ext->DeviceData->ReadTimeout) != vqsim::LinkStatus::Ok) {
    return STATUS_UNSUCCESSFUL;
  }
  *length = static_cast<uint32_t>(got);
  return STATUS_SUCCESS;
}
