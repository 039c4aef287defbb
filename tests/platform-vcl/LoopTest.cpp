// The message loop on the machine's clock: timers, Sleep, ProcessMessages.
#include "VclFixture.h"

namespace {

class LoopTest : public VclTest {
 protected:
  TTimer* MakeTimer(unsigned interval, std::vector<uint64_t>* ticks, const char* name = "T") {
    auto* t = new TTimer(Application);
    t->Name = name;
    t->Enabled = false;
    t->Interval = interval;
    t->OnTimer = [this, ticks](TObject*) { ticks->push_back(Now()); };
    t->Enabled = true;
    return t;
  }
};

TEST_F(LoopTest, TenSecondTimerFiresAtTenSecondsOfMachineTime) {
  std::vector<uint64_t> ticks;
  MakeTimer(10000, &ticks);
  Script("wait 9999\n").Run();
  EXPECT_TRUE(ticks.empty());
  EXPECT_EQ(Now(), 9999u);
  Script("wait 1\n").Run();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0], 10000u);
}

TEST_F(LoopTest, WaitServesEveryTickInOrderOfDueTime) {
  std::vector<uint64_t> fast, slow;
  std::vector<std::string> order;
  TTimer* a = MakeTimer(250, &fast, "A");
  TTimer* b = MakeTimer(400, &slow, "B");
  a->OnTimer = [&](TObject*) { fast.push_back(Now()); order.push_back("A"); };
  b->OnTimer = [&](TObject*) { slow.push_back(Now()); order.push_back("B"); };
  Script("wait 1000\n").Run();
  EXPECT_EQ(fast, (std::vector<uint64_t>{250, 500, 750, 1000}));
  EXPECT_EQ(slow, (std::vector<uint64_t>{400, 800}));
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "A", "A", "B", "A"}));
}

TEST_F(LoopTest, SleepAdvancesTheClockAndProcessMessagesFiresWhatIsDue) {
  std::vector<uint64_t> ticks;
  MakeTimer(250, &ticks);
  Sleep(100);
  Application->ProcessMessages();  // nothing due: takes 1 ms
  EXPECT_TRUE(ticks.empty());
  EXPECT_EQ(Now(), 101u);
  Sleep(149);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, (std::vector<uint64_t>{250}));
  // Ticks missed while the program slept come as one, on time afterwards.
  Sleep(1000);
  Application->ProcessMessages();
  EXPECT_EQ(ticks.size(), 2u);
  Script("wait 250\n").Run();
  EXPECT_EQ(ticks.back(), 1500u);
}

TEST_F(LoopTest, IdleProcessMessagesLetsAPollingLoopEnd) {
  const DWORD start = GetTickCount();
  int calls = 0;
  while (GetTickCount() - start < 200) {
    Application->ProcessMessages();
    ASSERT_LT(++calls, 1000);
  }
  EXPECT_GE(Now(), 200u);
}

TEST_F(LoopTest, EnablingOrChangingTheIntervalRestartsTheCount) {
  std::vector<uint64_t> ticks;
  TTimer* t = MakeTimer(1000, &ticks);
  Sleep(600);
  t->Enabled = false;
  t->Enabled = true;  // counts from 600
  Sleep(600);
  t->Interval = 500;  // counts from 1200
  Script("wait 600\n").Run();
  EXPECT_EQ(ticks, (std::vector<uint64_t>{1700}));
}

TEST_F(LoopTest, ADisabledOrHandlerlessTimerNeverFires) {
  std::vector<uint64_t> ticks;
  TTimer* t = MakeTimer(100, &ticks);
  t->Enabled = false;
  auto* bare = new TTimer(Application);
  bare->Interval = 50;
  EXPECT_FALSE(vcl::NextTimerDue().has_value());
  Script("wait 1000\n").Run();
  EXPECT_TRUE(ticks.empty());
}

TEST_F(LoopTest, ATimerWhoseHandlerOverrunsDoesNotStarveTheScript) {
  std::vector<uint64_t> ticks;
  TTimer* t = MakeTimer(10, &ticks);
  t->OnTimer = [&](TObject*) {
    ticks.push_back(Now());
    Sleep(25);  // longer than the interval
  };
  TTestForm* form = nullptr;
  Application->CreateForm(__classid(TTestForm), &form);
  form->Show();
  form->Ok->OnClick = [&](TObject*) { t->Enabled = false; };
  Script("wait 10\nclick OkBtn\n").Run();
  EXPECT_FALSE(t->Enabled);
  EXPECT_LE(ticks.size(), 3u);
}

TEST_F(LoopTest, ExceptionInATimerIsShownAndTheLoopGoesOn) {
  std::vector<uint64_t> ticks;
  TTimer* t = MakeTimer(100, &ticks);
  t->OnTimer = [&](TObject*) {
    ticks.push_back(Now());
    StrToInt("x1");
  };
  Application->Title = "Prog";
  Script("wait 200\n").Run();
  EXPECT_EQ(ticks.size(), 2u);
  ASSERT_EQ(Records().size(), 2u);
  EXPECT_EQ(Records()[0].kind, vcl::DialogKind::MessageBox);
  EXPECT_EQ(Records()[0].text, "'x1' is not a valid integer value.");
  EXPECT_EQ(Records()[0].caption, "Prog");
  EXPECT_EQ(Records()[0].type, unsigned(MB_OK | MB_ICONSTOP));
}

TEST_F(LoopTest, RunEndsWhenTheScriptIsExhaustedOrTheMainFormCloses) {
  TTestForm* form = nullptr;
  Application->CreateForm(__classid(TTestForm), &form);
  Script("wait 10\n");
  Application->Run();
  EXPECT_STREQ(Application->RunEndReason(), "script exhausted");
  EXPECT_TRUE(form->Visible);
  EXPECT_EQ(form->shows, 1);

  vcl::ResetApplication();
  Application->CreateForm(__classid(TTestForm), &form);
  Script("close TestForm\nwait 10\n");
  Application->Run();
  EXPECT_STREQ(Application->RunEndReason(), "main form closed");
  EXPECT_EQ(Now(), 10u);  // the wait after the close never ran
}

}  // namespace
