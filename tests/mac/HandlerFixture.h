// A handler loaded in process over simulated readers: each test starts with
// empty channel tables, no devices and a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "IfdHandler.h"
#include "PcscHandler.h"
#include "vqiokit/SimDevices.h"
#include "vqsim/Cards.h"
#include "vqsim/SimReader.h"

namespace mactest {

constexpr DWORD kLun0 = 0x00000000;
constexpr DWORD kLun1 = 0x00010000;

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAll();
    vqiokit::DetachAll();
    vqiokit::UseVirtualClock(true);
    baseline_ = vqiokit::LiveObjects();
  }

  void TearDown() override {
    CloseAll();
    vqiokit::DetachAll();
    EXPECT_EQ(vqiokit::LiveObjects(), baseline_) << "stand-in objects left behind";
  }

  static void CloseAll() {
    for (DWORD i = 0; i < MaxReaders; ++i)
      if (g_pSmartcardExtension[i]) IFDHCloseChannel(i << 16);
  }

  // A reader with the given card (none for nullptr); returns it.
  std::shared_ptr<vqsim::SimReader> AddReader(std::shared_ptr<vqsim::Card> card,
                                              uint32_t location = 0x14100000,
                                              int* deviceId = nullptr) {
    vqsim::ReaderConfig config;
    config.locationId = location;
    auto reader = std::make_shared<vqsim::SimReader>(config);
    if (card) reader->InsertCard(card);
    int id = vqiokit::AttachDevice(reader);
    if (deviceId) *deviceId = id;
    return reader;
  }

  // Reader, card and an open channel on Lun 0.
  std::shared_ptr<vqsim::SimReader> Open(std::shared_ptr<vqsim::Card> card) {
    auto reader = AddReader(card);
    EXPECT_EQ(IFDHCreateChannel(kLun0, 1), IFD_SUCCESS);
    reader->ClearReceived();
    return reader;
  }

  std::vector<uint8_t> PowerUp(DWORD lun = kLun0) {
    UCHAR atr[MAX_ATR_SIZE] = {};
    DWORD length = sizeof atr;
    EXPECT_EQ(IFDHPowerICC(lun, IFD_POWER_UP, atr, &length), IFD_SUCCESS);
    return std::vector<uint8_t>(atr, atr + length);
  }

  // One APDU; the status and the answer.
  RESPONSECODE Transmit(const std::vector<uint8_t>& apdu, std::vector<uint8_t>* answer,
                        DWORD rxSize = 65548, DWORD lun = kLun0) {
    std::vector<UCHAR> rx(rxSize ? rxSize : 1);
    DWORD rxLength = rxSize;
    SCARD_IO_HEADER send{1, 0}, recv{0, 0};
    RESPONSECODE rc = IFDHTransmitToICC(lun, send, const_cast<UCHAR*>(apdu.data()), apdu.size(),
                                        rx.data(), &rxLength, &recv);
    if (answer) answer->assign(rx.begin(), rx.begin() + std::min<DWORD>(rxLength, rxSize));
    lastRecvProtocol_ = recv.Protocol;
    return rc;
  }

  size_t baseline_ = 0;
  DWORD lastRecvProtocol_ = 0;
};

inline std::vector<uint8_t> Select() {
  std::vector<uint8_t> apdu{0x00, 0xA4, 0x04, 0x00, 0x07};
  for (uint8_t b : vqsim::Applet::KnownAid()) apdu.push_back(b);
  apdu.resize(5 + apdu[4]);
  return apdu;
}

inline const std::vector<uint8_t> kOk{0x90, 0x00};

}  // namespace mactest
