#include "nameservice/fax_handoff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/folders.h"
#include "interop/window_endpoint.h"
#include "platform/event_loop.h"
#include "platform/profile.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

// The fax companion's window, on a loop of its own thread.
class FakeCompanion final : public Window {
 public:
  FakeCompanion() {
    std::promise<EventLoop*> started;
    thread_ = std::thread([this, &started] {
      EventLoop loop(Env::Default());
      WindowEndpoint endpoint(loop, this);
      endpoint.RegisterClass(kFaxCompanionClass);
      started.set_value(&loop);
      loop.Run();
      // Quit may still be waking the loop: it goes only once Quit returned.
      quitReturned_.get_future().wait();
    });
    loop_ = started.get_future().get();
  }
  ~FakeCompanion() override {
    loop_->Quit(0);
    quitReturned_.set_value();
    thread_.join();
  }
  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::to_string(message) + ":" + std::to_string(wParam));
    return 0;
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  EventLoop* loop_ = nullptr;
  std::promise<void> quitReturned_;
  std::vector<std::string> messages_;
  std::thread thread_;
};

class FaxHandOff : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TMP", (root_.path() + "/tmp").c_str(), 1);
    InitTempFolder();
    std::filesystem::create_directories(root_.path() + "/opt");
    root_.WriteSettings("[PATH]\nCONF=" + root_.path() + "/opt\n");
  }
  std::string HandOffFile(int number) {
    return test::ReadWholeFile(root_.path() + "/tmp/scni" + std::to_string(number) + ".tmp");
  }
  std::string NotifyCounter() {
    return ProfileGetString(root_.DataDir() + "/tvqnhost.ini", "ID", "qbxnotifyid", "?");
  }

  test::TestRoot root_;
  int companionPid_ = -1;
};

TEST_F(FaxHandOff, ARunningCompanionGetsNumberedFilesOneAfterAnother) {
  FakeCompanion companion;
  HandOffFaxHandler(Env::Default(), "OTHERPC", "10.0.0.7", -1, &companionPid_);
  HandOffFaxHandler(Env::Default(), "THIRDPC", "10.0.0.9", -1, &companionPid_);
  EXPECT_EQ(HandOffFile(1), "OTHERPC\r\n10.0.0.7\r\n");
  EXPECT_EQ(HandOffFile(2), "THIRDPC\r\n10.0.0.9\r\n");
  EXPECT_EQ(companion.Messages(), (std::vector<std::string>{"1027:1", "1027:2"}));
  EXPECT_EQ(NotifyCounter(), "3");
  EXPECT_EQ(companionPid_, -1);  // nothing was started
}

TEST_F(FaxHandOff, WithoutACompanionProgramNothingIsWrittenOrCounted) {
  HandOffFaxHandler(Env::Default(), "OTHERPC", "10.0.0.7", -1, &companionPid_);
  EXPECT_EQ(NotifyCounter(), "?");
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/tmp/scni1.tmp"));
}

TEST_F(FaxHandOff, TheQueueRunsHandOffsAwayFromTheCallerAndEndsAWaitAtOnce) {
  // A companion that starts but never opens its window: the hand-off
  // would wait its full ten seconds.
  const std::string program = root_.path() + "/opt/PF_QBX.exe";
  std::ofstream(program) << "#!/bin/sh\nexec sleep 2\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  auto start = std::chrono::steady_clock::now();
  {
    FaxHandOffQueue queue(Env::Default());
    for (int i = 0; i < 20; ++i) queue.Request("OTHERPC", ("10.0.0." + std::to_string(i)).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(NotifyCounter(), "?");
}

}  // namespace
}  // namespace qb
