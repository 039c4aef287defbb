// Plugs a reader into the Windows CE stand-in's USB host and lets the whole
// driver attach it (USBDeviceAttach, the stream device's VQU_Init with the
// reader information and power-off, the card-status thread), opens it, makes
// a few I/O control calls and unplugs it. The reader's endpoint records, its
// answers, its interrupt notices, the status of its transfers and the moment
// it goes away come from the input. Afterwards nothing of it may be left.
//
// Input: endpoint records (a count, then address and attributes each; count
// 0: the reader's own three), flags (interface handed over, introduction
// refused, no device name, how the reader goes away, the system out of
// memory, threads or events for the attach), the moment it goes away (the
// n-th call the driver makes on the USB host: a pipe opened, a transfer
// issued, the close notice registered; 0: only at the end) and whether a
// second open is tried, the bulk-write statuses, the interrupt notices, the
// I/O control calls, then the reader's bulk-in answers (see QueueAnswers).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Driver.h"
#include "Exports.h"
#include "FuzzPlayback.h"
#include "IoControl.h"
#include "VQRDCE.h"
#include "vqce/Clock.h"
#include "vqce/DeviceManager.h"
#include "vqce/Failures.h"
#include "vqce/Modules.h"
#include "vqce/Registry.h"
#include "vqce/SmartCard.h"
#include "vqce/UsbHost.h"

namespace {

vqsim::LinkStatus StatusOf(uint8_t b) {
  switch (b % 8) {
    case 4: return vqsim::LinkStatus::Stalled;
    case 5: return vqsim::LinkStatus::Unplugged;
    case 6: return vqsim::LinkStatus::Error;
    case 7: return vqsim::LinkStatus::Timeout;
    default: return vqsim::LinkStatus::Ok;
  }
}

// The reader's side: bulk-in answers from the playback, bulk-write statuses
// and interrupt notices from the input. Called from the host's threads and
// the driver's, so one lock guards it. A reader that is pulled fails every
// call from then on; one that keeps answering is pulled after kMaxReads
// reads, so that a reader that never stops asking for time ends too.
class AttachLink : public vqsim::UsbLink {
 public:
  static constexpr uint32_t kMaxReads = 2000;

  std::vector<uint8_t> writeStatuses;
  struct Notice {
    vqsim::LinkStatus status;
    uint8_t bytes[2];
  };
  std::deque<Notice> notices;

  uint16_t VendorId() const override { return ReaderVendorId; }
  uint16_t ProductId() const override { return ReaderProductId; }
  uint32_t LocationId() const override { return 1; }

  vqsim::LinkStatus BulkOut(const uint8_t* data, size_t len) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) return vqsim::LinkStatus::Unplugged;
    const auto s = writes_ < writeStatuses.size() ? StatusOf(writeStatuses[writes_]) : vqsim::LinkStatus::Ok;
    ++writes_;
    if (s == vqsim::LinkStatus::Ok) NoteWritten(data, len);
    return Fail(s);
  }
  vqsim::LinkStatus BulkIn(uint8_t* buf, size_t cap, size_t* got, uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *got = 0;
    if (gone_) return vqsim::LinkStatus::Unplugged;
    if (++reads_ > kMaxReads) return Fail(vqsim::LinkStatus::Unplugged);
    uint32_t n = 0;
    const Failure f = NextChunk(buf, cap > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(cap), &n);
    *got = n;
    switch (f) {
      case Failure::None: return vqsim::LinkStatus::Ok;
      case Failure::Timeout: return vqsim::LinkStatus::Timeout;
      case Failure::Stalled: return vqsim::LinkStatus::Stalled;
      case Failure::Unplugged: return Fail(vqsim::LinkStatus::Unplugged);
      default: return vqsim::LinkStatus::Error;
    }
  }
  vqsim::LinkStatus InterruptIn(uint8_t* buf, size_t cap, size_t* got, uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *got = 0;
    if (gone_) return vqsim::LinkStatus::Unplugged;
    if (notices.empty()) return vqsim::LinkStatus::Timeout;
    const Notice n = notices.front();
    notices.pop_front();
    if (n.status == vqsim::LinkStatus::Ok) {
      *got = cap < 2 ? cap : 2;
      std::memcpy(buf, n.bytes, *got);
    }
    return Fail(n.status);
  }
  vqsim::LinkStatus ClearStall() override { return vqsim::LinkStatus::Ok; }
  void SetWakeup(std::function<void()> wakeup) override {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeup_ = std::move(wakeup);
  }
  // The reader is pulled out.
  void Pull() {
    std::function<void()> wakeup;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      gone_ = true;
      wakeup = wakeup_;
    }
    if (wakeup) wakeup();
  }

 private:
  // Under mutex_.
  vqsim::LinkStatus Fail(vqsim::LinkStatus s) {
    if (s == vqsim::LinkStatus::Unplugged) gone_ = true;
    return s;
  }

  std::mutex mutex_;
  bool gone_ = false;
  size_t writes_ = 0;
  uint32_t reads_ = 0;
  std::function<void()> wakeup_;
};

// How the reader goes away at its moment.
enum class Away { Pulled, UnplugHere, UnplugElsewhere };

struct Moment {
  std::mutex mutex;
  int at = 0;  // the n-th call; 0: never
  int calls = 0;
  Away how = Away::Pulled;
  std::thread::id attachThread;
  AttachLink* link = nullptr;
  std::vector<std::thread> elsewhere;
} g_moment;

void AtCall(int id, vqce::usb::ClientCall) {
  std::unique_lock<std::mutex> lock(g_moment.mutex);
  if (g_moment.at == 0 || ++g_moment.calls != g_moment.at) return;
  switch (g_moment.how) {
    case Away::Pulled:
      g_moment.link->Pull();
      break;
    case Away::UnplugHere:
      // Only the attach runs on a thread of the host; on a caller's thread
      // an unplug waits for that caller's own call to end.
      if (std::this_thread::get_id() == g_moment.attachThread) {
        lock.unlock();
        vqce::usb::Unplug(id);
        break;
      }
      [[fallthrough]];
    case Away::UnplugElsewhere:
      g_moment.elsewhere.emplace_back([id] { vqce::usb::Unplug(id); });
      break;
  }
}

const DWORD kCodes[] = {
    IOCTL_SMARTCARD_POWER,         IOCTL_SMARTCARD_GET_ATTRIBUTE, IOCTL_SMARTCARD_SET_ATTRIBUTE,
    IOCTL_SMARTCARD_TRANSMIT,      IOCTL_SMARTCARD_SET_PROTOCOL,  IOCTL_SMARTCARD_GET_STATE,
    IOCTL_SMARTCARD_IS_PRESENT,    IOCTL_SMARTCARD_IS_ABSENT,     IOCTL_SMARTCARD_CANCEL_TRACKING,
    IOCTL_SMARTCARD_RESET_TRACKING, IOCTL_SMARTCARD_VENDOR_ESCAPE, IOCTL_SMARTCARD_VENDOR_INFO,
};
const uint32_t kTags[] = {
    SCARD_ATTR_VENDOR_NAME,   SCARD_ATTR_VENDOR_IFD_TYPE, SCARD_ATTR_DEVICE_UNIT,
    SCARD_ATTR_ATR_STRING,    SCARD_ATTR_ICC_PRESENCE,    SCARD_ATTR_CURRENT_PROTOCOL_TYPE,
    SCARD_ATTR_MAX_IFSD,      SCARD_ATTR_MAX_DATA_RATE,
};

bool NothingLeft() {
  if (!vqce::usb::Devices().empty() || !vqce::devices::List().empty()) return false;
  if (vqce::usb::OpenPipes() != 0 || vqce::usb::OpenTransfers() != 0) return false;
  if (!vqce::smartcard::Readers().empty()) return false;
  for (SmartcardExtension* slot : DeviceTable) {
    if (slot) return false;
  }
  // Every name introduced is forgotten, under the same name.
  std::map<std::wstring, int> names;
  for (const auto& e : vqce::smartcard::History())
    names[e.reader] += e.kind == vqce::smartcard::Event::Introduced ? 1 : -1;
  for (auto& [name, count] : names) {
    if (count != 0) return false;
  }
  return vqce::LocalBlocksInUse() == 0;
}

void Setup() {
  // Time-outs and pauses take microseconds: nothing really waits.
  vqce::Clock::SetSpeed(1e6);
  vqce::modules::Register(L"VQRDCE.dll", &VQRDCE_Export);
  if (!USBInstallDriver(L"VQRDCE.dll")) std::abort();
  vqce::usb::SetClientCallHook(&AtCall);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (Setup(), true);
  (void)ready;
  static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
  FuzzInput in{data, size};

  vqce::usb::DeviceOptions options;
  if (const uint8_t count = in.Byte() % 5) {
    options.endpoints.clear();
    for (uint8_t i = 0; i < count; ++i) {
      const uint8_t address = in.Byte(), attributes = in.Byte();
      USB_ENDPOINT_DESCRIPTOR e{};
      e.bLength = sizeof e;
      e.bDescriptorType = 5;
      e.bEndpointAddress = address;
      e.bmAttributes = attributes;
      e.wMaxPacketSize = 64;
      options.endpoints.push_back(e);
    }
  }
  const uint8_t flags = in.Byte();
  options.passInterface = flags & 1;
  vqce::smartcard::Reset();
  vqce::smartcard::SetRefuseIntroduce(flags & 2);
  vqce::devices::SetActivationHook(nullptr);
  if (flags & 4) {
    vqce::devices::SetActivationHook([](const std::wstring& key) {
      vqce::registry::SetString(HKEY_LOCAL_MACHINE, key, L"Name", L"");
    });
  }
  const uint8_t moment = in.Byte();

  auto link = std::make_shared<AttachLink>();
  link->writeStatuses = in.Take(in.Byte() % 16);
  for (uint8_t n = in.Byte() % 8; n > 0; --n) {
    const uint8_t status = in.Byte();
    link->notices.push_back({StatusOf(status), {in.Byte(), in.Byte()}});
  }
  struct Call {
    DWORD code;
    std::vector<uint8_t> input;
    DWORD outSize;
  };
  std::vector<Call> calls;
  for (uint8_t n = in.Byte() % 8; n > 0; --n) {
    Call c;
    c.code = kCodes[in.Byte() % (sizeof kCodes / sizeof kCodes[0])];
    c.input = in.Take(in.Byte() % 64);
    if ((c.code == IOCTL_SMARTCARD_GET_ATTRIBUTE || c.code == IOCTL_SMARTCARD_SET_ATTRIBUTE) &&
        c.input.size() >= 4) {
      const uint32_t tag = kTags[c.input[0] % (sizeof kTags / sizeof kTags[0])];
      std::memcpy(c.input.data(), &tag, 4);
    }
    c.outSize = in.Byte() * 2u;
    calls.push_back(std::move(c));
  }
  ResetPlayback();
  QueueAnswers(in);

  {
    std::lock_guard<std::mutex> lock(g_moment.mutex);
    g_moment.at = moment % 32;
    g_moment.calls = 0;
    g_moment.how = static_cast<Away>((flags >> 3 & 3) % 3);
    g_moment.attachThread = std::this_thread::get_id();
    g_moment.link = link.get();
  }
  if (flags & 0x20) vqce::failures::FailNextAllocations(1);        // the device block
  if (flags & 0x40) vqce::failures::FailNextThreadCreations(1);    // the card-status thread
  if (flags & 0x80) vqce::failures::FailNextEventCreations(1 + (moment >> 6 & 1));
  const auto plugged = vqce::usb::Plug(link, options);
  vqce::failures::Reset();
  {
    std::lock_guard<std::mutex> lock(g_moment.mutex);
    g_moment.attachThread = {};  // the calls below are a caller's
  }
  if (verbose) std::fprintf(stderr, "plug: %s\n", plugged.claimed ? "claimed" : "not claimed");

  const auto devices = vqce::devices::List();
  if (!devices.empty()) {
    const DWORD_PTR context = devices.front().context;
    const DWORD_PTR h = VQU_Open(context, 0, 0);
    if (verbose) std::fprintf(stderr, "open: %s\n", h ? "ok" : "failed");
    if ((moment & 0x20) && VQU_Open(context, 0, 0) != 0) __builtin_trap();  // one open at a time
    for (auto& c : calls) {
      std::vector<uint8_t> output(c.outSize ? c.outSize : 1, 0xA5);
      DWORD returned = 0xDEADBEEF;
      // A card-tracking wait ends at once: it was cancelled before it began.
      auto* ext = reinterpret_cast<SmartcardExtension*>(context);
      const bool waits = c.code == IOCTL_SMARTCARD_IS_PRESENT || c.code == IOCTL_SMARTCARD_IS_ABSENT;
      if (waits && DeviceTableAcquire(ext)) {
        SetEvent(ext->OsData->CancelEvent);
        DeviceTableRelease(ext);
      }
      const BOOL ok = VQU_IOControl(h, c.code, c.input.empty() ? nullptr : c.input.data(),
                                    static_cast<DWORD>(c.input.size()), output.data(), c.outSize,
                                    &returned);
      if (verbose) {
        std::fprintf(stderr, "ioctl 0x%X in %zu out %u -> %s returned %u\n", static_cast<unsigned>(c.code),
                     c.input.size(), static_cast<unsigned>(c.outSize), ok ? "TRUE" : "FALSE",
                     static_cast<unsigned>(returned));
      }
      if (returned > c.outSize || (!ok && returned != 0)) __builtin_trap();
    }
    if (h) VQU_Close(h);
  }
  vqce::usb::Unplug(plugged.id);
  std::vector<std::thread> elsewhere;
  {
    std::lock_guard<std::mutex> lock(g_moment.mutex);
    g_moment.at = 0;
    elsewhere.swap(g_moment.elsewhere);
  }
  for (auto& t : elsewhere) t.join();
  // A reader pulled out is taken away by the host on a thread of its own.
  for (int i = 0; vqce::usb::IsPlugged(plugged.id); ++i) {
    if (i == 100000) __builtin_trap();  // the host never took it away
    std::this_thread::yield();
  }
  vqce::usb::Unplug(plugged.id);
  if (!NothingLeft()) {
    if (verbose) std::fprintf(stderr, "something of the reader was left\n");
    __builtin_trap();
  }
  return 0;
}
