// A reader that goes away while it is being attached: at each USB transfer of
// the attach, at the registration of the close-device notice, and from
// another thread at random moments. Every Plug and Unplug returns, and
// nothing of the reader is left: no stream device, pipe, transfer, table
// slot, introduced name or device block.
#include <cstdio>
#include <future>
#include <mutex>
#include <random>

#include "CeFixture.h"

namespace cetest {
namespace {

using vqce::usb::ClientCall;

// Runs f on a thread of its own and waits at most 10 s of real time for it;
// a call that hangs cannot be recovered from, so the program ends then.
template <class F>
void Returns(const char* what, F f) {
  auto task = std::async(std::launch::async, f);
  if (task.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::fprintf(stderr, "%s has not returned within 10 s\n", what);
    std::fflush(stderr);
    std::_Exit(1);
  }
  task.get();
}

// How the reader goes away.
enum class Away {
  Link,       // the reader itself is pulled: its link fails from then on
  Here,       // Unplug on the thread that makes the call (the attach)
  Elsewhere,  // Unplug on another thread, started at the call
};

const char* Name(Away a) {
  return a == Away::Link ? "link" : a == Away::Here ? "unplug on the attach thread" : "unplug elsewhere";
}

// Takes the reader away at the n-th call of a kind that a client makes.
struct Trigger {
  ClientCall call = ClientCall::IssueTransfer;
  int at = 1;
  Away how = Away::Link;
  std::shared_ptr<vqsim::SimReader> sim;
  std::thread::id attachThread;

  std::mutex mutex;
  int seen = 0;
  bool fired = false;
  std::vector<std::thread> elsewhere;

  void operator()(int id, ClientCall c) {
    std::unique_lock<std::mutex> lock(mutex);
    if (c != call || fired || ++seen != at) return;
    fired = true;
    if (how == Away::Link) {
      sim->Unplug();
    } else if (how == Away::Here && std::this_thread::get_id() == attachThread) {
      lock.unlock();
      vqce::usb::Unplug(id);
    } else {
      elsewhere.emplace_back([id] { vqce::usb::Unplug(id); });
    }
  }
};

void ExpectNothingLeft(size_t introducedBefore = 0) {
  EXPECT_TRUE(vqce::usb::Devices().empty());
  EXPECT_TRUE(vqce::devices::List().empty()) << "stream device left";
  EXPECT_EQ(vqce::usb::OpenPipes(), 0u);
  EXPECT_EQ(vqce::usb::OpenTransfers(), 0u);
  for (SmartcardExtension* slot : DeviceTable) EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(vqce::smartcard::Readers().empty()) << "introduced reader left";
  EXPECT_EQ(vqce::LocalBlocksInUse(), 0) << "device block not freed exactly once";
  // Every name introduced is forgotten once, under the same name.
  const auto history = vqce::smartcard::History();
  std::map<std::wstring, int> names;
  for (size_t i = introducedBefore; i < history.size(); ++i) {
    names[history[i].reader] += history[i].kind == vqce::smartcard::Event::Introduced ? 1 : -1;
  }
  for (auto& [name, count] : names) EXPECT_EQ(count, 0) << std::string(name.begin(), name.end());
}

class GoneDuringAttach : public CeDriver {
 protected:
  void TearDown() override {
    vqce::usb::SetClientCallHook(nullptr);
    CeDriver::TearDown();
  }

  // Plugs a reader that the trigger takes away; true when it fired.
  bool PlugAndLose(Trigger& trigger) {
    trigger.sim = std::make_shared<vqsim::SimReader>();
    vqce::usb::SetClientCallHook([&trigger](int id, ClientCall c) { trigger(id, c); });
    int id = 0;
    Returns("Plug", [&] {
      trigger.attachThread = std::this_thread::get_id();
      id = vqce::usb::Plug(trigger.sim).id;
    });
    // The card-status thread's first transfer may come after the attach.
    if (trigger.call == ClientCall::IssueTransfer) {
      Eventually([&] {
        std::lock_guard<std::mutex> lock(trigger.mutex);
        return trigger.fired || vqce::usb::TransfersIssued(id, vqce::usb::Endpoint::InterruptIn) > 0;
      });
    }
    vqce::usb::SetClientCallHook(nullptr);
    bool fired;
    {
      std::lock_guard<std::mutex> lock(trigger.mutex);
      fired = trigger.fired;
    }
    Returns("Unplug", [&] {
      for (auto& t : trigger.elsewhere) t.join();
      if (!fired) vqce::usb::Unplug(id);
    });
    // A reader whose link failed is taken away by the host on its own.
    EXPECT_TRUE(Eventually([&] { return !vqce::usb::IsPlugged(id); }));
    return fired;
  }
};

TEST_F(GoneDuringAttach, AtEachTransferAndAtTheRegistration) {
  for (Away how : {Away::Link, Away::Here, Away::Elsewhere}) {
    int reached = 0;
    for (int at = 1; at < 20; ++at) {
      SCOPED_TRACE(std::string(Name(how)) + " at transfer " + std::to_string(at));
      vqce::smartcard::Reset();
      Trigger trigger;
      trigger.at = at;
      trigger.how = how;
      const bool fired = PlugAndLose(trigger);
      ExpectNothingLeft();
      if (!fired) break;
      reached = at;
    }
    // The reader information and the power-off are two exchanges of a
    // write and a read each; the card-status thread then reads notices.
    EXPECT_GE(reached, 5) << Name(how);

    SCOPED_TRACE(std::string(Name(how)) + " at the registration");
    vqce::smartcard::Reset();
    Trigger trigger;
    trigger.call = ClientCall::RegisterNotification;
    trigger.how = how;
    EXPECT_TRUE(PlugAndLose(trigger));
    ExpectNothingLeft();
  }
}

TEST_F(GoneDuringAttach, FromAnotherThreadAtRandomMoments) {
  // How long one attach takes here, to spread the moments over it.
  auto start = std::chrono::steady_clock::now();
  int id = vqce::usb::Plug(std::make_shared<vqsim::SimReader>()).id;
  const auto attach = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(vqce::usb::Unplug(id));
  const int64_t spread = std::chrono::duration_cast<std::chrono::microseconds>(attach).count() * 3 / 2 + 1;

  std::mt19937 random(17);
  const auto introducedBefore = vqce::smartcard::History().size();
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    auto sim = std::make_shared<vqsim::SimReader>();
    const auto delay = std::chrono::microseconds(random() % spread);
    const bool pullLink = round % 3 == 2;
    std::atomic<bool> plugged{false};
    Returns("Plug and Unplug", [&] {
      const auto before = vqce::usb::Devices();
      std::thread away([&] {
        const auto begin = std::chrono::steady_clock::now();
        // The new device, as soon as the host knows it.
        int found = 0;
        while (!found && !plugged) {
          for (int d : vqce::usb::Devices()) {
            if (std::find(before.begin(), before.end(), d) == before.end()) found = d;
          }
          if (!found) std::this_thread::yield();
        }
        while (std::chrono::steady_clock::now() - begin < delay) std::this_thread::yield();
        if (pullLink) {
          sim->Unplug();
        } else if (found) {
          vqce::usb::Unplug(found);
        }
      });
      const int plug = vqce::usb::Plug(sim).id;
      plugged = true;
      away.join();
      if (!pullLink) vqce::usb::Unplug(plug);  // when it came too late
      EXPECT_TRUE(Eventually([&] { return !vqce::usb::IsPlugged(plug); }));
    });
    ExpectNothingLeft(introducedBefore);
  }
}

}  // namespace
}  // namespace cetest
