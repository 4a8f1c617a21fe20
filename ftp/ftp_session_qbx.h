// One scanner's FTP session: the challenge, access-code and ticket login,
// the tree of numbered destinations, and the saving of the stored files
// when the session ends with QUIT.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ftp/ftp_challenge.h"
#include "ftp/ftp_session.h"

namespace qb {

class CFtpServerQBX;

class CFtpSessionQBX : public CFtpSession {
 public:
  CFtpSessionQBX(CFtpServerQBX* server, CFtpSocket* control);
  ~CFtpSessionQBX() override;

  void onStart() override;
  bool onEnd(bool quit) override;
  bool checkPassword(const char* user, const char* password) override;
  bool getPasswordPrompt(int code, char* out) override;
  bool resetDir() override;
  bool getCurrentDir(char* out) override;
  bool changeDir(const char* path) override;
  bool makeLocalPath(const char* name, char* out) override;
  bool namesFolder(const char* name) override;
  bool onFileReceived(CVirtualSaveFile* file) override;
  bool checkFreeSpace(const char* folder) override;

  // For tests.
  const char* challenge() const { return challenge_; }
  bool challengeLogin() const { return challenge_login_ != 0; }

 private:
  // Selects destination `number` when this session may use it; its folder
  // into `folder` (may be null). A refusal counts once per session as a
  // failed login.
  bool EnterDestination(int number, std::string* folder);
  // The work of onEnd after QUIT: names, checks, stores, logs, announces.
  void SaveReceivedFiles();

  CFtpServerQBX* qbx_;
  std::atomic<uint16_t> selected_destination_{0};
  uint8_t challenge_login_ = 0;
  std::atomic<uint8_t> meta_received_{0};
  uint8_t failure_recorded_ = 0;
  char challenge_[kChallengeDigits + 1] = {};
  int socket_handle_ = -1;
  int current_destination_ = 0;
  char login_code_[260] = {};
};

}  // namespace qb
