// One scanner's FTP session: the challenge, access-code and ticket login,
// the tree of numbered destinations, and the saving of the stored files
// when the session ends with QUIT.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/ftp_challenge.h"
#include "ftp/ftp_session.h"
#include "storage/document_files.h"
#include "storage/stored_document.h"

namespace qb {

class ScannerFtpServer;
struct FtpMetaEntry;

class ScannerFtpSession : public FtpSession {
 public:
  ScannerFtpSession(ScannerFtpServer* server, FtpSocket* control);
  ~ScannerFtpSession() override;

  void OnStart() override;
  bool OnQuit() override;
  bool OnEnd(bool quit) override;
  bool CheckPassword(const char* user, const char* password) override;
  bool GetPasswordPrompt(int code, char* out) override;
  bool ResetDir() override;
  bool GetCurrentDir(char* out) override;
  bool ChangeDir(const char* path) override;
  bool MakeLocalPath(const char* name, char* out) override;
  bool NamesFolder(const char* name) override;
  std::unique_ptr<SaveFile> OpenReceivedFile(const char* path,
                                                     std::string* refusal) override;
  bool OnFileReceived(SaveFile* file) override;
  bool CheckFreeSpace(const char* folder) override;

  // For tests.
  const char* challenge() const { return challenge_; }
  bool ChallengeLogin() const { return challenge_login_ != 0; }

 private:
  // Selects destination `number` when this session may use it; its folder
  // into `folder` (may be null). A refusal counts once per session as a
  // failed login.
  bool EnterDestination(int number, std::string* folder);
  // The work of QUIT before its reply: names, checks, commits and logs the
  // received files. False when a file that passed the checks could not be
  // stored.
  bool SaveReceivedFiles();
  // After the reply: the announcement and the extension library.
  void AnnounceSavedFiles();

  ScannerFtpServer* qbx_;
  // The session's uploads, written where they will live (transfer threads
  // add to it one at a time; the session thread commits it at QUIT).
  DocumentFiles staged_;
  StoredDocument saved_;  // what QUIT stored, for the steps after its reply
  bool any_saved_ = false;
  std::unique_ptr<FtpMetaEntry> paired_;
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
