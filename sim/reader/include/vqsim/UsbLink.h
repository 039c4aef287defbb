// The host's view of one simulated reader's USB endpoints. Every USB stand-in
// (engine tests, Windows CE USB host driver, IOKit) reaches a simulated reader
// through this interface only, in process or over a Unix socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vqsim {

enum class LinkStatus {
  Ok,
  Timeout,    // nothing arrived within the time-out
  Stalled,    // the endpoint is halted until it is cleared
  Unplugged,  // the device is gone
  Error,      // any other failed transfer (a broken socket, say)
};

class UsbLink {
 public:
  virtual ~UsbLink() = default;

  virtual uint16_t VendorId() const = 0;
  virtual uint16_t ProductId() const = 0;
  virtual uint32_t LocationId() const = 0;

  // Bulk OUT: a request frame, whole or in pieces.
  virtual LinkStatus BulkOut(const uint8_t* data, size_t len) = 0;

  // Bulk IN: at most `cap` bytes of what the reader sends (it sends at most
  // 512 bytes per transfer). An in-process reader answers at once, so when it
  // has nothing to send (mute, nothing asked) Timeout comes back at once: the
  // caller's clock decides how much time that stood for.
  virtual LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) = 0;

  // Interrupt IN: a pending slot-change notice, or Timeout when none is
  // pending (in process: at once; over a socket: within timeoutMs).
  virtual LinkStatus InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t timeoutMs) = 0;

  // Clears a stalled endpoint.
  virtual LinkStatus ClearStall() = 0;

  // Called, from any thread, whenever interrupt data becomes pending or the
  // device goes away, so that a waiting host side can look again. May be
  // empty. The callback must not call back into the link.
  virtual void SetWakeup(std::function<void()> wakeup) = 0;
};

}  // namespace vqsim
