#include "scanproto/folder_browse.h"

#include <algorithm>
#include <cstring>

#include "config/settings.h"
#include "platform/trace.h"
#include "scanproto/cipher.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"
#include "storage/bounded_text.h"
#include "storage/destinations.h"

namespace qb {
namespace {

constexpr size_t kReplyHeader = 8;
constexpr size_t kMaxEntryName = 255;
constexpr size_t kPathChars = kPathMax - 1;

void SendEnciphered(ScanJob& job, size_t length) {
  CipherBody(CipherKeyText(job), job.txBuffer + 2, length, kEncipher);
  job.txLength = static_cast<uint16_t>(length);
  job.txState = 1;
  job.context->SendPacket(job);
}

}  // namespace

size_t PackDirEntries(const std::vector<std::string>& names, uint8_t* out, uint16_t* count) {
  size_t total = 0;
  *count = 0;
  for (const std::string& name : names) {
    if (total >= kDirListCut) break;
    size_t length = std::min(name.size(), kMaxEntryName);
    out[total] = static_cast<uint8_t>(length);
    std::memcpy(out + total + 1, name.data(), length);
    total += 1 + length;
    ++*count;
  }
  return total;
}

void SendDirNameRes(ScanJob& job, uint16_t result, uint16_t error, const char* folder) {
  uint8_t* body = job.txBuffer + 2;
  WriteBe16(body, DT_DIRECT_DIR_NAMERES);
  WriteBe16(body + 2, result);
  WriteBe16(body + 4, error);
  size_t length = kReplyHeader;
  if (folder == nullptr) {
    WriteBe16(body + 6, 0);
  } else {
    WriteBe16(body + 6, kReplyHeader);
    size_t folderLength = std::min(std::strlen(folder), kPathChars);
    std::memcpy(body + kReplyHeader, folder, folderLength);
    body[kReplyHeader + folderLength] = 0;
    length += folderLength + 1;
  }
  SendEnciphered(job, length);
}

void SendDirListRes(ScanJob& job, uint16_t count, size_t entriesLength) {
  uint8_t* body = job.txBuffer + 2;
  WriteBe16(body, DT_DIRECT_DIR_LISTRES);
  WriteBe16(body + 2, 1);
  WriteBe16(body + 4, kErrNone);
  WriteBe16(body + 6, count);
  size_t length = kReplyHeader + entriesLength;
  TraceLog("DT_DIRECT_DIR_LISTRES: dataLEngth = %ld", static_cast<long>(length));
  SendEnciphered(job, length);
}

void OnDirName(ScanJob& job, uint8_t* body, size_t length) {
  uint16_t destination = length >= 4 ? ReadBe16(body + 2) : 0;
  DestinationRecord record;
  if (LookupDestination(destination, &record, job.context->env())) {
    SendDirNameRes(job, 1, kErrNone, record.folder.c_str());
  } else {
    SendDirNameRes(job, 0, kErrFolder, nullptr);
  }
}

void OnDirList(ScanJob& job, uint8_t* body, size_t length) {
  uint16_t offset = length >= 4 ? ReadBe16(body + 2) : 0;
  // An offset outside the request gives an empty path, which lists nothing.
  std::string path = TextAt(body, length, offset, kPathChars);
  TraceLog("   Request DirName");
  TraceLog("    :%s", path.c_str());
  // With DirListScope 1 a folder outside the destinations reads as one
  // that cannot be read: nothing of the rest of the machine is shown.
  std::vector<std::string> names;
  if (GetDirListScope() != 1 || IsWithinDestinations(path, job.context->env())) {
    names = ListSubfolders(path, job.context->env());
  }
  uint16_t count = 0;
  size_t entriesLength = PackDirEntries(names, job.txBuffer + 2 + kReplyHeader, &count);
  SendDirListRes(job, count, entriesLength);
}

}  // namespace qb
