// A server in which one user ("tester", password "secret") may log in and
// store files into one folder: the base engine with only the hooks that a
// client test needs. The real clients' tests and the engine's own tests
// both run it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"

namespace qb::test {

class TestFtpSession : public FtpSession {
 public:
  TestFtpSession(FtpServer* server, FtpSocket* control, const std::string& folder,
                 std::atomic<int>* ended, std::atomic<bool>* holdEnd)
      : FtpSession(server, control), folder_(folder), ended_(ended), hold_end_(holdEnd) {}

  bool checkPassword(const char* user, const char* password) override {
    return std::strcmp(user, "tester") == 0 && std::strcmp(password, "secret") == 0;
  }
  // Names stand in the one folder; anything with a separator is refused.
  bool makeLocalPath(const char* name, char* out) override {
    if (name[0] == '/') ++name;
    if (std::strchr(name, '/') != nullptr || std::strcmp(name, "..") == 0) return false;
    const std::string path = name[0] == '\0' ? folder_ : folder_ + "/" + name;
    if (path.size() >= 260) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
  }
  bool onEnd(bool quit) override {
    // A session whose last steps take long (an extension library, a slow disk).
    while (hold_end_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool result = FtpSession::onEnd(quit);
    if (ended_ != nullptr) ++*ended_;
    return result;
  }

 private:
  std::string folder_;
  std::atomic<int>* ended_;
  std::atomic<bool>* hold_end_;
};

class TestFtpServer : public FtpServer {
 public:
  TestFtpServer(const std::string& folder, Env& env) : FtpServer(env), folder_(folder) {}
  ~TestFtpServer() override { stop(); }

  std::unique_ptr<FtpSession> createSession(FtpSocket* control) override {
    return std::make_unique<TestFtpSession>(this, control, folder_, &sessions_ended_, &hold_ends_);
  }
  int sessionsEnded() const { return sessions_ended_.load(); }
  // While set, sessions wait before their last steps.
  void HoldSessionEnds(bool hold) { hold_ends_ = hold; }

 private:
  std::string folder_;
  std::atomic<int> sessions_ended_{0};
  std::atomic<bool> hold_ends_{false};
};

}  // namespace qb::test
