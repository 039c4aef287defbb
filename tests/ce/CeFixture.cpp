#include "CeFixture.h"

#include "Exports.h"

namespace cetest {

std::vector<uint8_t> U32(uint32_t v) {
  std::vector<uint8_t> b(4);
  memcpy(b.data(), &v, 4);
  return b;
}

std::vector<uint8_t> Request(uint32_t protocol, std::vector<uint8_t> bytes) {
  std::vector<uint8_t> r = U32(protocol);
  auto eight = U32(8);
  r.insert(r.end(), eight.begin(), eight.end());
  r.insert(r.end(), bytes.begin(), bytes.end());
  return r;
}

bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void CeDriver::SetUp() {
  vqce::Clock::SetSpeed(1000);
  vqce::failures::Reset();
  vqce::smartcard::Reset();
  vqce::modules::Register(L"VQRDCE.dll", &VQRDCE_Export);
  ASSERT_TRUE(USBInstallDriver(L"VQRDCE.dll"));
}

void CeDriver::TearDown() {
  vqce::usb::UnplugAll();
  vqce::devices::SetActivationHook(nullptr);
  USBUnInstallDriver();
  vqce::registry::SetReadOnlyPath(L"");
  vqce::failures::Reset();
  EXPECT_EQ(vqce::usb::OpenPipes(), 0u);
  EXPECT_EQ(vqce::usb::OpenTransfers(), 0u);
}

Reader CeDriver::Plug(const std::string& model, const std::string& firmware,
                      std::shared_ptr<vqsim::Card> card, vqce::usb::DeviceOptions options) {
  Reader r;
  vqsim::ReaderConfig config;
  config.model = model;
  config.firmware = firmware;
  r.sim = std::make_shared<vqsim::SimReader>(config);
  if (card) r.sim->InsertCard(card);
  // A card put in before the plug is no change to report.
  std::vector<uint8_t> drain(8);
  size_t got = 0;
  while (r.sim->InterruptIn(drain.data(), drain.size(), &got, 0) == vqsim::LinkStatus::Ok) {
  }
  const auto before = vqce::devices::List();
  auto plugged = vqce::usb::Plug(r.sim, options);
  r.id = plugged.id;
  r.claimed = plugged.claimed;
  for (const auto& d : vqce::devices::List()) {
    bool old = false;
    for (const auto& b : before) old = old || b.handle == d.handle;
    if (!old) r.device = d;
  }
  r.ext = reinterpret_cast<SmartcardExtension*>(r.device.context);
  return r;
}

DWORD_PTR CeDriver::Open(const Reader& r) { return VQU_Open(r.device.context, 0, 0); }

Result CeDriver::Ioctl(DWORD_PTR h, DWORD code, const std::vector<uint8_t>& in, DWORD outSize) {
  Result res;
  res.out.assign(outSize, 0);
  std::vector<uint8_t> input(in);
  SetLastError(0);
  res.returned = 0xDDDDDDDD;  // every path must store a length
  res.ok = VQU_IOControl(h, code, input.empty() ? nullptr : input.data(), static_cast<DWORD>(input.size()),
                         outSize ? res.out.data() : nullptr, outSize, &res.returned);
  res.error = res.ok ? 0 : GetLastError();
  res.out.resize(res.returned <= outSize ? res.returned : outSize);
  return res;
}

Result CeDriver::Attr(DWORD_PTR h, uint32_t tag, DWORD outSize) {
  return Ioctl(h, IOCTL_SMARTCARD_GET_ATTRIBUTE, U32(tag), outSize);
}

uint32_t CeDriver::CardState(SmartcardExtension* ext) {
  EnterCriticalSection(&ext->OsData->ReaderLock);
  const uint32_t s = ext->ReaderCapabilities.CurrentState;
  LeaveCriticalSection(&ext->OsData->ReaderLock);
  return s;
}

void CeDriver::SetCardState(SmartcardExtension* ext, uint32_t state) {
  EnterCriticalSection(&ext->OsData->ReaderLock);
  ext->ReaderCapabilities.CurrentState = state;
  LeaveCriticalSection(&ext->OsData->ReaderLock);
}

DWORD_PTR CeDriver::OpenWithCard(const Reader& r, uint32_t protocol) {
  DWORD_PTR h = Open(r);
  EXPECT_NE(h, 0u);
  auto power = Ioctl(h, IOCTL_SMARTCARD_POWER, U32(SCARD_COLD_RESET), 64);
  EXPECT_TRUE(power.ok) << power.error;
  auto set = Ioctl(h, IOCTL_SMARTCARD_SET_PROTOCOL, U32(protocol), 4);
  EXPECT_TRUE(set.ok) << set.error;
  EXPECT_EQ(CardState(r.ext), CardStateSpecific);
  return h;
}

}  // namespace cetest
