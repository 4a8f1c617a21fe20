#include "ftp/scanner_ftp_session.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "config/scanner_list.h"
#include "config/settings.h"
#include "ftp/access_codes.h"
#include "ftp/scanner_ftp_server.h"
#include "ftp/scanner_paths.h"
#include "imaging/file_checks.h"
#include "platform/crypto.h"
#include "platform/env.h"
#include "platform/event_loop.h"
#include "platform/global_lock.h"
#include "platform/stop_signal.h"
#include "platform/trace.h"
#include "storage/confined_folder.h"
#include "storage/destinations.h"
#include "storage/disk_space.h"
#include "storage/document_files.h"
#include "storage/file_naming.h"
#include "storage/meta_data.h"
#include "storage/name_reservations.h"
#include "storage/path_parts.h"
#include "storage/raw_dump.h"
#include "storage/stored_document.h"

namespace qb {
namespace {

bool IsAccessCode(const char* password) {
  for (const char* p = password; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

bool SameCode(const std::string& a, const char* b) {
  const size_t length = std::strlen(b);
  return a.size() == length && ConstantTimeEqual(a.data(), b, length);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// `base` moved into `subFolder` when that is reached below the destination
// folder without a symbolic link; otherwise the destination folder keeps
// the file. Network data never decide where outside it a file goes.
std::string PlaceWithinDestination(const std::string& base, const std::string& subFolder,
                                   const std::string& destinationFolder) {
  std::string placed;
  if (subFolder.empty() || !PlaceIntoSubFolder(base, subFolder, &placed)) return base;
  bool refused = false;
  const std::string folder = SubFolderBelow(destinationFolder, subFolder, &refused);
  return refused ? base : folder + "/" + NameOfPath(base);
}

// Whether the file passes the type check of the setting FileTypeCheck:
// only TIFF, JPEG, PDF (each checked for its content) and XPS are kept. A
// file the disk would not give back is not refused for its content: it is
// a file that could not be stored.
FileVerdict CheckType(SaveFile& file, Env& env) {
  if (GetFileTypeCheck() == 0) return FileVerdict::kPassed;
  const std::string extension = Upper(SplitPath(file.GetPath()).extension);
  int form = 0;
  if (extension == ".TIF") {
    form = kDataFormTiff;
  } else if (extension == ".JPG" || extension == ".JPEG") {
    form = kDataFormJpeg;
  } else if (extension == ".PDF") {
    form = kDataFormPdf;
  } else {
    return extension == ".XPS" ? FileVerdict::kPassed : FileVerdict::kRefused;
  }
  // The staging file the upload was written into.
  const char* staging = file.GetTempName();
  std::unique_ptr<ReadableFile> in;
  if (staging == nullptr || !env.OpenReadable(staging, &in).ok()) return FileVerdict::kUnreadable;
  return JudgeReceivedFile(*in, form, 0);
}

// A folder, or a symbolic link to one: a destination's folder may be one.
bool IsFolderAt(Env& env, const std::string& path) {
  FileInfo info;
  return env.Stat(path, &info).ok() && (info.isFolder || info.linksToFolder);
}

}  // namespace

ScannerFtpSession::ScannerFtpSession(ScannerFtpServer* server, FtpSocket* control)
    : FtpSession(server, control),
      qbx_(server),
      staged_(server->env(), NameReservations::NewOwner()) {}

ScannerFtpSession::~ScannerFtpSession() {
  // The uploads' objects point into staged_, which goes first.
  ReceivedFiles().clear();
  SecureZero(login_code_, sizeof login_code_);
  SecureZero(challenge_, sizeof challenge_);
}

void ScannerFtpSession::OnStart() {
  socket_handle_ = control()->handle();
  AddScannerEntry(PeerAddress(), "", socket_handle_);
}

bool ScannerFtpSession::GetPasswordPrompt(int code, char* out) {
  if (code != 331) return false;
  MakeChallenge(server()->env().WallSeconds(), challenge_);
  if (RawDumpEnabled()) {
    char answer[kAnswerDigits + 1];
    ExpectedAnswer(challenge_, answer);
    RawDumpPrintf(server()->env(), "Challenge code [%s] Answer [%s]\n", challenge_, answer);
    SecureZero(answer, sizeof answer);
  }
  std::snprintf(out, 500, "331 %s Password required for %%s.", challenge_);
  return true;
}

bool ScannerFtpSession::CheckPassword(const char* /*user*/, const char* password) {
  if (qbx_->PassThrottled()) {
    // Deliberately slowed (the original had no limit across addresses):
    // many addresses guessing together still get one try per second per
    // session. Only this session's thread waits; a right code still logs in.
    TraceLog("FTP PASS from %s delayed: many failed logins in the last minute.", PeerAddress());
    WaitSocket(-1, false, server()->running()->WakeDescriptor(), kThrottledPassWaitMs);
  }
  const bool accessCode = IsAccessCode(password);
  // Deliberately counted at PASS as well (the original counted only the
  // refused destination): a code that opens no destination is a wrong
  // guess whether or not the client goes on to try it.
  if (accessCode && !AccessCodeOpensAny(password, server()->env()))
    qbx_->RecordLoginFailure(control()->PeerAddress());
  GlobalLockGuard lock;
  bool accepted = accessCode;
  if (!accepted && challenge_[0] != '\0') {
    char answer[kAnswerDigits + 1];
    ExpectedAnswer(challenge_, answer);
    accepted = AnswerMatches(password, answer);
    SecureZero(answer, sizeof answer);
    if (!accepted) accepted = qbx_->UseTicket(password);
    if (accepted) challenge_login_ = 1;
  }
  if (!accepted) {
    qbx_->RecordLoginFailure(control()->PeerAddress());
    return false;
  }
  std::snprintf(login_code_, sizeof login_code_, "%s", password);
  return true;
}

bool ScannerFtpSession::ResetDir() {
  current_destination_ = 0;
  return true;
}

bool ScannerFtpSession::GetCurrentDir(char* out) {
  if (current_destination_ == 0) {
    std::strcpy(out, "/");
  } else {
    std::snprintf(out, 16, "/%d", current_destination_);
  }
  return true;
}

bool ScannerFtpSession::EnterDestination(int number, std::string* folder) {
  DestinationRecord record;
  const bool found = number > 0 && number <= 0xFFFF &&
                     LookupDestination(static_cast<uint16_t>(number), &record, server()->env());
  if (found && (challenge_login_ != 0 || record.accessCode.empty() ||
                SameCode(record.accessCode, login_code_))) {
    selected_destination_ = static_cast<uint16_t>(number);
    if (folder != nullptr) *folder = WithoutTrailingSlash(record.folder);
    return true;
  }
  if (failure_recorded_ == 0) {
    failure_recorded_ = 1;
    qbx_->RecordLoginFailure(control()->PeerAddress());
  }
  return false;
}

bool ScannerFtpSession::ChangeDir(const char* path) {
  const DirectoryChange change = ParseDirectoryChange(path, current_destination_);
  switch (change.kind) {
    case DirectoryChange::kRoot:
      current_destination_ = 0;
      return true;
    case DirectoryChange::kEnter:
      if (!EnterDestination(change.destination, nullptr)) return false;
      current_destination_ = change.destination;
      return true;
    case DirectoryChange::kProbeSubFolder: {
      std::string folder;
      if (!EnterDestination(change.destination, &folder)) return false;
      return IsRealFolderBelow(folder, change.subFolder);
    }
    case DirectoryChange::kRefused:
      break;
  }
  return false;
}

bool ScannerFtpSession::MakeLocalPath(const char* name, char* out) {
  int destination = 0;
  std::string fileName;
  if (!ParseStoreName(name, current_destination_, &destination, &fileName)) return false;
  std::string folder;
  if (!EnterDestination(destination, &folder)) return false;
  if (folder.size() + fileName.size() + 1 >= 259) return false;
  const std::string path = fileName.empty() ? folder : folder + "/" + fileName;
  // Deliberately refused: an upload may not take the name of a folder.
  if (!fileName.empty() && IsFolderAt(server()->env(), path)) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

bool ScannerFtpSession::NamesFolder(const char* name) {
  if (FtpSession::NamesFolder(name)) return true;
  // "1" after CWD to the root: a destination's folder itself; a name of a
  // folder that exists in the destination.
  int destination = 0;
  std::string fileName;
  if (!ParseStoreName(name, current_destination_, &destination, &fileName)) return false;
  if (fileName.empty()) return true;
  DestinationRecord record;
  return LookupDestination(static_cast<uint16_t>(destination), &record, server()->env()) &&
         IsFolderAt(server()->env(), record.folder + "/" + fileName);
}

bool ScannerFtpSession::CheckFreeSpace(const char* folder) {
  DiskSpace space{};
  if (!server()->env().QueryDiskSpace(folder, &space)) return false;
  const ReceiverEvents& hooks = qbx_->hooks();
  if (space.freeToCaller < kDiskFullLimit) {
    if (hooks.trayState) hooks.trayState(kTrayFull);
    return false;
  }
  const int freePercent = FreePercentOf(space.freeToCaller, space.total);
  if (hooks.trayState) hooks.trayState(GetHDD() > 100 - freePercent ? kTrayNormal : kTrayWarning);
  return true;
}

std::unique_ptr<SaveFile> ScannerFtpSession::OpenReceivedFile(const char* path,
                                                              std::string* refusal) {
  const std::string name = NameOfPath(path);
  // Meta files are kept in memory until their document comes; nothing of
  // a dot file (clients probe with them) or of a STOR onto the folder
  // itself is kept. Both still run to the end, so the client hears 226.
  if (IsMetaFileName(name)) return std::make_unique<MemorySaveFile>(path, kMaxMetaFileBytes);
  if (name.empty() || name[0] == '.' || IsFolderAt(server()->env(), path)) {
    return std::make_unique<MemorySaveFile>(path, 0);
  }
  FileResult why;
  auto file = StagedSaveFile::Start(path, staged_, &why);
  if (file != nullptr) return file;
  TraceLog("FTP STOR %s refused: its folder takes no new file (%s).", path, why.Reason().c_str());
  *refusal =
      why.error() == FileError::kNoSpace ? "552 Insufficient storage space." : "451 STOR error.";
  return nullptr;
}

bool ScannerFtpSession::OnFileReceived(SaveFile* file) {
  const char* path = file->GetPath();
  const std::string name = NameOfPath(path != nullptr ? path : "");
  if (IsMetaFileName(name)) {
    const uint64_t size = file->GetSize();
    if (size <= kMaxMetaFileBytes) {
      auto entry = std::make_unique<FtpMetaEntry>();
      entry->data.resize(size);
      if (size == 0 || file->ReadAll(entry->data.data())) {
        entry->destination = selected_destination_;
        entry->path = path;
        entry->address = control()->PeerAddress();
        if (qbx_->AddMetaEntry(std::move(entry))) {
          meta_received_ = 1;
        } else {
          RefuseReceivedFile();
        }
      }
    }
    delete file;
    return true;
  }
  if (path == nullptr || IsFolderAt(server()->env(), path)) {
    // A bare STOR maps onto the folder itself: nothing of it is kept, so
    // no upload is ever saved beside its destination.
    delete file;
    return true;
  }
  if (!name.empty() && name[0] == '.') {
    // Clients probe with dot files; nothing of them is kept.
    delete file;
    return true;
  }
  return false;
}

bool ScannerFtpSession::OnQuit() { return DeleteRequested() || SaveReceivedFiles(); }

bool ScannerFtpSession::OnEnd(bool /*quit*/) {
  if (any_saved_) AnnounceSavedFiles();
  // Whatever was not committed (no QUIT, DELE, a file that failed) goes.
  ReceivedFiles().clear();
  staged_.DropAll();
  RemoveScannerEntry(PeerAddress(), "", socket_handle_);
  return true;
}

bool ScannerFtpSession::SaveReceivedFiles() {
  if (meta_received_ != 0) {
    char answer[kAnswerDigits + 1];
    ExpectedAnswer(challenge_, answer);
    qbx_->AddTicket(answer);
    SecureZero(answer, sizeof answer);
  }
  Env& env = server()->env();
  const bool overwrite = GetOverWrite();
  DocumentFiles& staged = staged_;
  std::string fullPath;
  std::string stem;
  int digits = 0;
  std::string subFolder;
  std::unique_ptr<FtpMetaEntry>& paired = paired_;
  int count = 0;
  int landed = 0;
  int lost = 0;

  for (auto& file : ReceivedFiles()) {
    const char* received = file->GetPath();
    if (received == nullptr) continue;
    const std::string original = received;
    // Until now the upload's staging path stood for its name.
    const char* staging = file->GetTempName();
    if (staging == nullptr) continue;
    const std::string stagingKey = staging;
    const std::string destinationFolder = WithoutTrailingSlash(FolderPartOf(original));
    const std::string base = DbaBasePath(original);

    if (count == 0) {
      if (auto found = qbx_->TakeMetaEntryFor(NameOfPath(original))) paired = std::move(found);
      subFolder.clear();
      if (paired != nullptr) {
        MetaAttributes attributes;
        if (ParseMetaAttributes(paired->data.data(), paired->data.size(), &attributes)) {
          subFolder = CleanSubFolder(attributes.subFolder);
        }
      }
      const std::string target = PlaceWithinDestination(base, subFolder, destinationFolder);
      MakeUniqueFileName(target, overwrite, &fullPath, &stem, &digits, staged.Owner(), env);
      file->SetPath(fullPath.c_str());
    } else if (digits > 0 && fullPath.find('_') != std::string::npos) {
      const std::string target = SeriesPath(fullPath, digits, count + 1);
      {
        NameReservations& names = NameReservations::Instance();
        std::lock_guard<std::mutex> lock(names.Mutex());
        names.Reserve(FolderPartOf(target), NameOfPath(target), staged.Owner());
      }
      file->SetPath(target.c_str());
    } else {
      std::string target = PlaceWithinDestination(base, subFolder, destinationFolder);
      if (!overwrite) {
        // Never over an existing file, nor over one of this session's own.
        const std::string folder = FolderPartOf(target);
        target = MakeFreeExactName(
            folder, NameOfPath(target), staged.Owner(),
            [&staged](const std::string& path) { return staged.Holds(path); }, env);
      }
      file->SetPath(target.c_str());
    }

    const FileVerdict type = CheckType(*file, env);
    if (type != FileVerdict::kPassed) {
      TraceLog("FTP file %s not stored: %s.", file->GetPath(),
               type == FileVerdict::kRefused ? "its content is not of its type"
                                             : "it cannot be read back");
      if (type == FileVerdict::kUnreadable) ++lost;
      staged.Drop(stagingKey);
      continue;
    }
    ++count;                     // the series numbering goes on over a file that is not kept
    if (file->GetSize() == 0) {  // an empty file is never saved
      TraceLog("FTP file %s not stored: the file is empty.", file->GetPath());
      staged.Drop(stagingKey);
      continue;
    }
    staged.Rename(stagingKey, file->GetPath());
    ++landed;
  }

  saved_ = StoredDocument{};
  if (landed > 0) {
    saved_.destination = selected_destination_;
    saved_.peerAddress = PeerAddress();
    saved_.senderName = UserName();
    saved_.outputPath = fullPath;
    // Each file on its own: one that cannot be placed keeps none of the
    // others from their folder. Deliberately counted only when it lands
    // (the original counted every file, stored or not): the log says what
    // is on disk.
    const CommitOutcome outcome = qbx_->delivery().Commit(staged, overwrite, &saved_);
    landed = outcome.landed;
    lost += static_cast<int>(outcome.lost.size());
    if (landed > 0) qbx_->delivery().Log(saved_, false);
  } else {
    staged.DropAll();
  }
  any_saved_ = landed > 0;
  if (FtpLogEnabled()) FtpLog("Saved %d file(s).", landed);
  return lost == 0;
}

void ScannerFtpSession::AnnounceSavedFiles() {
  const DocumentDelivery& delivery = qbx_->delivery();
  delivery.Announce();
  if (paired_ == nullptr) return;
  StoredDocument extension = saved_;
  extension.metaData = ByteBlock{paired_->data.data(), paired_->data.size()};
  if (RawDumpEnabled()) {
    RawDumpPrintf(server()->env(), "Calling qnExtParaOperation MetaDataSize = %d bytes.\n",
                  static_cast<int>(paired_->data.size()));
  }
  delivery.CallExtension(&extension, 0);
}

}  // namespace qb
