#include "ftp/ftp_session.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_data_connection.h"
#include "ftp/ftp_server.h"
#include "config/folders.h"
#include "platform/places.h"
#include "platform/trace.h"
#include "storage/disk_space.h"

namespace qb {
namespace {

// A reply text made from a format the hooks supply, with the user name for
// its first "%s"; any other "%" is copied as it stands, so a hook's text
// can never read arguments that are not there.
std::string FormatWithName(const char* format, const char* name) {
  std::string out;
  bool used = false;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && !used) {
      out += name;
      used = true;
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      out += '%';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

std::string Printf(const char* format, const char* text) {
  char buffer[1400];
  std::snprintf(buffer, sizeof buffer, format, text);
  return buffer;
}

}  // namespace

FtpSession::FtpSession(FtpServer* server, FtpSocket* control)
    : server_(server), control_(control) {}

FtpSession::~FtpSession() = default;

// --- base hooks: a server in which nobody logs in ---

void FtpSession::OnStart() {}

bool FtpSession::OnQuit() { return true; }

bool FtpSession::OnEnd(bool /*quit*/) {
  int saved = 0;
  for (auto& file : received_files_) {
    if (file->Save()) ++saved;
  }
  return true;
}

bool FtpSession::CheckPassword(const char* /*user*/, const char* /*password*/) { return false; }

bool FtpSession::GetPasswordPrompt(int /*code*/, char* /*out*/) { return false; }

bool FtpSession::ResetDir() { return true; }

bool FtpSession::GetCurrentDir(char* out) {
  std::strcpy(out, "/");
  return true;
}

bool FtpSession::ChangeDir(const char* path) {
  return std::strcmp(path, "/") == 0 || std::strcmp(path, ".") == 0;
}

// The base server keeps everything in one fixed folder under the root.
bool FtpSession::MakeLocalPath(const char* name, char* out) {
  if (name[0] == '/') ++name;
  const std::string path = RootPrefix() + "/FtpRoot/" + name;
  if (path.size() >= 260) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

bool FtpSession::NamesFolder(const char* name) {
  const std::string text = name;
  if (text.empty() || text.back() == '/' || text.back() == '\\') return true;
  const size_t slash = text.find_last_of("/\\");
  const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
  return last == "." || last == "..";
}

std::unique_ptr<SaveFile> FtpSession::OpenReceivedFile(const char* path,
                                                                std::string* refusal) {
  if (!TempHasRoom()) {
    *refusal = "552 Insufficient storage space in the temporary folder.";
    return nullptr;
  }
  return std::make_unique<TempSaveFile>(path, server_->env());
}

bool FtpSession::OnFileReceived(SaveFile* /*file*/) { return false; }

bool FtpSession::CheckFreeSpace(const char* /*folder*/) { return true; }

// --- the command loop ---

// How long one line wait may last. The loop wakes for its idle check every
// heartbeat while a transfer runs (a transfer keeps the session alive, and
// its failure ends the session at the next beat). Without a transfer nothing
// can change but a line from the client, so the wait runs on to the very
// beat at which the idle limit would end the session: the same moment, with
// one wake-up instead of one every five seconds, so thousands of idle
// sessions cost nothing.
int FtpSession::LineWaitMs() const {
  const int beat = server_->HeartbeatMs();
  if (data_->Busy() || data_->failed()) return beat;
  const int64_t nowMs = server_->env().NowMs();
  const int64_t endAfterMs = (last_activity_ + idle_limit_ + 1) * 1000;  // first whole second past the limit
  int64_t beats = 1;
  if (endAfterMs > nowMs) beats = (endAfterMs - nowMs + beat - 1) / beat;
  if (beats < 1) beats = 1;
  const int64_t waitMs = beats * beat;
  return waitMs > 3600000 * 2 ? 3600000 * 2 : static_cast<int>(waitMs);
}

bool FtpSession::SendDirect(const std::string& text) {
  return control_->LineSend(text.c_str(), kFtpReplySendTimeout) >= 0;
}

void FtpSession::RunCommandLoop() {
  std::snprintf(peer_address_, sizeof peer_address_, "%s", control_->PeerAddressText().c_str());
  OnStart();
  data_ = std::make_unique<FtpDataConnection>(this, control_);

  bool aborted = false;
  if (control_->LineSend("220 FTP ( TX QBX Service ) ready", kFtpReplySendTimeout) < 0) {
    FtpLog("Cannot send welcome message.");
    aborted = true;
  }
  quit_ = false;
  logged_in_ = false;
  last_activity_ = server_->env().NowMs() / 1000;
  idle_limit_ = GetFTP_SocketTimeOut();

  // The line buffer lives on the session thread's stack: sessions are many
  // and mostly idle, and an untouched stack page costs nothing.
  char line[kFtpLineBufferSize];
  while (!aborted && server_->running()->IsRunning()) {
    const int waitMs = LineWaitMs();
    control_->SetTimeoutMs(waitMs);
    const int length = control_->LineRecv(line, static_cast<int>(sizeof line));
    if (length == kFtpTimedOut) {
      const int64_t now = server_->env().NowMs() / 1000;
      if (data_->Busy()) {
        last_activity_ = now;
      } else if (data_->failed()) {
        aborted = true;
      } else if (now > last_activity_ + idle_limit_) {
        aborted = true;
      }
      continue;
    }
    if (length < 0) {
      aborted = true;
      break;
    }
    last_activity_ = server_->env().NowMs() / 1000;

    std::string reply;
    if (Dispatch(line, &reply) == Next::kEnd) {
      if (!quit_) aborted = true;
      break;
    }
    if (reply.empty()) continue;
    const int sent = control_->LineSend(reply.c_str(), kFtpReplySendTimeout);
    if (sent < 0 && sent != kFtpTimedOut) {
      FtpLog("Cannot send message to the client.");
      aborted = true;
    }
  }

  // A running STOR completes or fails before the files are handed over.
  data_.reset();
  OnEnd(quit_);
  if (FtpLogEnabled()) FtpLog("User %s logged out (%s).", user_name_, quit_ ? "Quit" : "Abort");
}

FtpSession::Next FtpSession::Dispatch(const char* line, std::string* reply) {
  const FtpCommand command = LookUpCommand(line);
  if (command == FtpCommand::kNone) {
    char head[5] = {};
    std::strncpy(head, line, 4);
    *reply = Printf("500 '%s': command not understood.", head);
    return Next::kContinue;
  }
  std::string argument = CommandArgument(line);
  if (argument.size() >= kMaxArgumentLength) return Next::kEnd;  // no reply
  int code = static_cast<int>(command);
  if (command == FtpCommand::kCdup) {
    code = static_cast<int>(FtpCommand::kCwd);
    argument = "..";
  }

  switch (static_cast<FtpCommand>(code)) {
    case FtpCommand::kQuit:
    case FtpCommand::kAuth:
    case FtpCommand::kPbsz:
    case FtpCommand::kProt:
    case FtpCommand::kCcc:
    case FtpCommand::kFeat:
      break;
    case FtpCommand::kUser:
    case FtpCommand::kPass:
      if (GetFTP_Support() == 0 && !control_->IsTls()) {
        *reply = "550 Permission denied.";
        return Next::kContinue;
      }
      if (logged_in_) {
        *reply = "530 Already logged in.";
        return Next::kContinue;
      }
      break;
    default:
      if (!logged_in_) {
        *reply = "530 Please login with USER and PASS.";
        return Next::kContinue;
      }
  }

  const FtpCommand effective = static_cast<FtpCommand>(code);
  if (argument.empty() && (effective == FtpCommand::kDele || effective == FtpCommand::kType ||
                           effective == FtpCommand::kPort || effective == FtpCommand::kCwd)) {
    *reply = "500 command not understood.";
    return Next::kContinue;
  }
  if ((effective == FtpCommand::kStor || effective == FtpCommand::kRetr ||
       effective == FtpCommand::kList || effective == FtpCommand::kNlst) &&
      !data_->HasDataPath()) {
    *reply = "226 data connection close.";
    return Next::kContinue;
  }
  return HandleCommand(code, line, argument, reply);
}

FtpSession::Next FtpSession::HandleCommand(int code, const char* line,
                                             const std::string& argument, std::string* reply) {
  switch (static_cast<FtpCommand>(code)) {
    case FtpCommand::kQuit:
      logged_in_ = false;
      // Deliberately late: the files are in place and durable before the
      // client hears 221, so a printer is never told "done" for a file a
      // crash could still take.
      data_.reset();  // a running STOR completes or fails first
      {
        const bool stored = OnQuit();
        leaving_ = true;
        // Deliberately not 221 when a file could not be stored: the client
        // must not take it as delivered.
        SendDirect(stored ? "221 Goodbye." : "451 Requested action aborted: local error in processing.");
      }
      quit_ = true;
      return Next::kEnd;

    case FtpCommand::kNoop:
      *reply = "200 NOOP command successful.";
      break;

    case FtpCommand::kUser: {
      std::string name = argument.empty() ? "noname" : argument;
      if (name.size() > kFtpUserNameMax) name.resize(kFtpUserNameMax);
      for (char& c : name) {
        if (c == ';') c = '_';
      }
      std::memcpy(user_name_, name.c_str(), name.size() + 1);
      prompt_[0] = '\0';
      if (GetPasswordPrompt(331, prompt_)) {
        prompt_[sizeof prompt_ - 1] = '\0';
        *reply = FormatWithName(prompt_, user_name_);
      } else {
        *reply = Printf("331 Password required for %s.", user_name_);
      }
      break;
    }

    case FtpCommand::kPass:
      if (user_name_[0] == '\0') {
        *reply = "503 Login with USER first.";
        break;
      }
      if (CheckPassword(user_name_, argument.c_str()) && argument.size() < 50) {
        logged_in_ = true;
        *reply = Printf("230 User %s logged in.", user_name_);
        break;
      }
      SendDirect("530 Login incorrect.");
      return Next::kEnd;

    case FtpCommand::kPwd: {
      char directory[1024] = {};
      if (GetCurrentDir(directory)) {
        directory[sizeof directory - 1] = '\0';
        *reply = Printf("257 \"%s\" is current directory", directory);
      } else {
        *reply = "550 Permission denied.";
      }
      break;
    }

    case FtpCommand::kType: {
      const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(argument[0])));
      if (first == 'A') {
        data_->SetType(0);
        *reply = "200 Type set 'A'";
      } else if (first == 'I') {
        data_->SetType(1);
        *reply = "200 Type set 'I'";
      } else {
        *reply = "500 command not understood.";
      }
      break;
    }

    case FtpCommand::kPort:
      *reply = data_->Active(line) ? "200 PORT command successful." : "500 command not understood.";
      break;

    case FtpCommand::kPasv:
      if (!data_->Passive()) *reply = "500 command not understood.";
      break;

    case FtpCommand::kCwd:
      *reply = ChangeDir(argument.c_str()) ? "250 CWD command successful" : "550 Permission denied.";
      break;

    case FtpCommand::kList:
    case FtpCommand::kNlst: {
      char path[1024] = {};
      if (MakeLocalPath("", path)) {
        data_->StartTransfer(code == static_cast<int>(FtpCommand::kList) ? kTransferList : kTransferNlst,
                             path, argument.c_str(), nullptr);
      } else {
        *reply = "550 Permission denied.";
      }
      break;
    }

    case FtpCommand::kStor: {
      // Deliberately refused outright: a name without a file part (or a
      // folder's name) would otherwise store the upload beside its folder.
      if (NamesFolder(argument.c_str())) {
        *reply = "550 Permission denied.";
        break;
      }
      char path[1024] = {};
      bool accepted = MakeLocalPath(argument.c_str(), path);
      if (accepted) {
        path[sizeof path - 1] = '\0';
        // The folder is the path before its last separator; a bare name
        // stands in the current folder, which the hooks call "".
        std::string folder;
        if (const char* separator = FindLastByte(path, '/')) folder.assign(path, static_cast<size_t>(separator - path));
        accepted = CheckFreeSpace(folder.c_str());
      }
      if (!accepted) {
        *reply = "451 STOR error.";
        break;
      }
      std::unique_ptr<SaveFile> file = OpenReceivedFile(path, reply);
      if (file == nullptr) break;
      data_->StartTransfer(kTransferStor, path, "", std::move(file));
      char text[1400];
      std::snprintf(text, sizeof text, "150 Opening %s mode data connection for %s.", data_->TypeName(),
                    argument.c_str());
      const int sent = control_->LineSend(text, kFtpReplySendTimeout);
      data_->Announced();
      if (sent < 0 && sent != kFtpTimedOut) {
        FtpLog("Cannot send message to the client.");
        return Next::kEnd;
      }
      break;
    }

    case FtpCommand::kRetr:
      *reply = Printf("550 %s: No such file or directory.", argument.c_str());
      break;

    case FtpCommand::kMkd:
    case FtpCommand::kRmd:
    case FtpCommand::kRnfr:
    case FtpCommand::kRnto:
      *reply = "550 Permission denied.";
      break;

    case FtpCommand::kDele:
      if (NamesFolder(argument.c_str())) {
        *reply = "550 Permission denied.";
        break;
      }
      delete_requested_ = 1;
      *reply = "250 DELE command successful.";
      break;

    case FtpCommand::kAbor:
      // Deliberately at once (the original waited for the data socket's
      // time-out when the data connection was open but idle).
      data_->AbortAndWait(true);
      *reply = "250 ABOR command successful.";
      break;

    case FtpCommand::kAuth:
      if (server_->Tls() == nullptr) {
        *reply = "500 command not understood.";
        break;
      }
      SendDirect("234 Using authentication type TLS.");
      if (!control_->SslAccept(server_->Tls())) {
        // The connection is closed: nothing more can be said on it.
        FtpLog("AUTH failed.");
        return Next::kEnd;
      }
      FtpLog("AUTH succeeded.");
      break;

    case FtpCommand::kPbsz:
      *reply = server_->Tls() != nullptr ? "200 PBSZ=0" : "500 command not understood.";
      break;

    case FtpCommand::kProt:
      *reply = ProtectionReply(argument);
      break;

    case FtpCommand::kFeat:
      // RFC 2389's form: the listed lines start with one blank.
      *reply = server_->Tls() != nullptr ? "211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n211 End"
                                                : "211-Features:\r\n211 End";
      break;

    case FtpCommand::kCcc:
      // A clear control channel is refused (RFC 4217's answer for a server
      // that keeps the protection on): replies and passwords stay inside TLS.
      *reply = server_->Tls() != nullptr ? "534 Request denied for policy reasons."
                                                : "500 command not understood.";
      break;

    default:
      *reply = "500 command not understood.";
      break;
  }
  return Next::kContinue;
}

// Deliberately checked (the original never looked): every stored file
// passes through the temporary folder first, and a client that fills it
// would hold it full. Below the disk-full limit of the destinations no
// STOR starts.
bool FtpSession::TempHasRoom() {
  DiskSpace space{};
  if (!server_->env().QueryDiskSpace(TempFolderPath().c_str(), &space)) return true;
  if (space.freeToCaller >= kDiskFullLimit) return true;
  TraceLog("FTP STOR refused: the temporary folder has %llu bytes free.",
           static_cast<unsigned long long>(space.freeToCaller));
  return false;
}

// Deliberately honest where the original said "Protection level set to P"
// to anything: a data connection is protected exactly when the control
// connection is, so only the level that is true can be set.
std::string FtpSession::ProtectionReply(const std::string& argument) const {
  if (server_->Tls() == nullptr) return "500 command not understood.";
  const char level = argument.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(argument[0])));
  const bool protectedNow = control_->IsTls();
  if (level == 'P') return protectedNow ? "200 Protection level set to P" : "503 Use AUTH TLS first.";
  if (level == 'C') {
    return protectedNow ? "534 Protection level C refused: data connections stay protected."
                        : "200 Protection level set to C";
  }
  return "504 Protection level not supported.";
}

}  // namespace qb
