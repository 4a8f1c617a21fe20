// One FTP control connection: the command loop with its login gate and
// replies, run on a thread of its own. The hooks give the session its
// users, folders and what happens to stored files; the base ones let
// nobody in.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "ftp/ftp_socket.h"
#include "ftp/save_file.h"

namespace qb {

class FtpServer;
class FtpDataConnection;

constexpr size_t kFtpLineBufferSize = 30000;
constexpr size_t kFtpUserNameMax = 32;
constexpr int kFtpReplySendTimeout = 10;

class FtpSession {
 public:
  FtpSession(FtpServer* server, FtpSocket* control);
  virtual ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  // Runs the command loop until the session ends (session thread).
  void RunCommandLoop();

  // --- hooks, in the order a session calls them ---
  virtual void OnStart();
  // QUIT, after any running transfer has ended and before the client hears
  // 221: whatever the session stores must be in place by then. False when
  // a received file could not be stored: the client then hears 451.
  virtual bool OnQuit();
  // Once, when the command loop ends; `quit` after QUIT only.
  virtual bool OnEnd(bool quit);
  virtual bool CheckPassword(const char* user, const char* password);
  // The USER reply: a format with one %s for the user name.
  virtual bool GetPasswordPrompt(int code, char* out);
  virtual bool ResetDir();
  virtual bool GetCurrentDir(char* out);
  virtual bool ChangeDir(const char* path);
  // The local path (at most 260 characters) for a client's name; "" is
  // the current folder.
  virtual bool MakeLocalPath(const char* name, char* out);
  // Whether a client's name for a file (STOR, DELE) names a folder instead:
  // nothing, a name that ends at a separator, "." or "..".
  virtual bool NamesFolder(const char* name);
  // Where a STOR to `path` writes its bytes; null refuses it with the
  // reply in `*refusal`. The base keeps them in a temporary file.
  virtual std::unique_ptr<SaveFile> OpenReceivedFile(const char* path,
                                                             std::string* refusal);
  // A STOR completed (transfer thread); true: the hook took the file.
  virtual bool OnFileReceived(SaveFile* file);
  virtual bool CheckFreeSpace(const char* folder);

  FtpServer* server() const { return server_; }
  FtpSocket* control() const { return control_; }
  const char* UserName() const { return user_name_; }
  const char* PeerAddress() const { return peer_address_; }
  bool DeleteRequested() const { return delete_requested_ != 0; }
  // Set once the session has answered QUIT: it no longer counts against its
  // client's address, so the client may connect again at once.
  bool leaving() const { return leaving_.load(); }
  // Files stored during the session that no hook took.
  std::list<std::unique_ptr<SaveFile>>& ReceivedFiles() { return received_files_; }
  // Said by OnFileReceived: the file it was given was not kept for want of
  // room, so the transfer answers 552 instead of 226. Read once.
  void RefuseReceivedFile() { file_refused_ = true; }
  bool TakeFileRefusal() { return file_refused_.exchange(false); }

 private:
  enum class Next { kContinue, kEnd };
  Next Dispatch(const char* line, std::string* reply);
  Next HandleCommand(int command, const char* line, const std::string& argument,
                     std::string* reply);
  bool SendDirect(const std::string& text);
  std::string ProtectionReply(const std::string& argument) const;
  // The temporary folder can take a stored file.
  bool TempHasRoom();
  int LineWaitMs() const;

  FtpServer* server_;
  FtpSocket* control_;
  std::unique_ptr<FtpDataConnection> data_;
  char user_name_[260] = {};
  char peer_address_[260] = {};
  char prompt_[500] = {};
  std::list<std::unique_ptr<SaveFile>> received_files_;
  uint8_t delete_requested_ = 0;
  std::atomic<bool> file_refused_{false};
  std::atomic<bool> leaving_{false};

  bool quit_ = false;
  bool logged_in_ = false;
  int64_t last_activity_ = 0;  // whole seconds
  int idle_limit_ = 120;
};

}  // namespace qb
