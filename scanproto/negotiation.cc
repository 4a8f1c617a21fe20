// Parameter requests: which destination a job goes to, with what name and
// meta data, and whether this printer may send at all.
#include <algorithm>
#include <cstring>
#include <new>

#include "config/scanner_list.h"
#include "config/settings.h"
#include "interop/window_messages.h"
#include "platform/clock_text.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"
#include "scanproto/para_fields.h"
#include "storage/bounded_text.h"
#include "storage/confined_folder.h"
#include "storage/destinations.h"
#include "storage/meta_data.h"
#include "storage/name_cleaning.h"
#include "storage/receive_log.h"
#include "storage/stored_document.h"

namespace qb {
namespace {

constexpr size_t kParaHeader = 8;  // code, destination, name offset, meta offset
constexpr size_t kShortParaData = 18;
constexpr size_t kLongParaData = kParaCopySize - kParaHeader;  // 532
constexpr uint16_t kMetaOffsetLimit = 25600;
constexpr uint16_t kNoticeOffsetLimit = 541;
constexpr size_t kSenderNameChars = 16;
constexpr size_t kHeapMetaAbove = 512;
constexpr uint32_t kNoAccessCode = 0xFFFFFFFF;
constexpr size_t kDepNameSize = 9;

struct ParaRequest {
  uint16_t destination = 0;
  uint16_t nameOffset = 0;
  uint16_t metaOffset = 0;
};

struct ParaReply {
  uint16_t result = 0;
  uint16_t error = kErrFolder;
  uint32_t value = kNoAccessCode;
};

// Fields the request is too short to hold read as 0.
ParaRequest ReadRequest(const uint8_t* body, size_t length) {
  auto field = [&](size_t at) -> uint16_t { return at + 2 <= length ? ReadBe16(body + at) : 0; };
  return {field(2), field(4), field(6)};
}

// The bytes of the request from `offset` on, as far as they arrived.
ByteBlock Tail(const uint8_t* body, size_t length, size_t offset) {
  if (offset == 0 || offset >= length) return {nullptr, 0};
  return {body + offset, length - offset};
}

// The kept meta-data offset, in the named field and in the copy's words.
void KeepMetaOffset(Document& doc, uint16_t metaOffset) {
  doc.para.metaOffset = metaOffset;
  WriteBe16(doc.paraCopy + 6, metaOffset);
}

// A new request replaces the request an earlier one on the connection left
// in the document (its copy, words and meta data). The folder changes only
// when the new destination is found, the file name only when the new
// request brings one or TOVScan makes one.
void StartParaCopy(Document& doc, uint16_t code, const ParaRequest& request) {
  std::memset(doc.paraCopy, 0, sizeof doc.paraCopy);
  doc.para = KeptParaRequest{code, request.destination, request.nameOffset, 0};
  WriteBe16(doc.paraCopy, code);
  WriteBe16(doc.paraCopy + 2, request.destination);
  WriteBe16(doc.paraCopy + 4, request.nameOffset);
  KeepMetaOffset(doc, request.metaOffset);
  doc.metaData.reset();
  doc.metaDataLength = 0;
}

// Looks the destination up and fills the reply; the document's folder is
// set only for a destination that can take files.
bool CheckFolder(Document& doc, uint16_t destination, ParaReply* reply) {
  DestinationRecord record;
  // A folder that does not fit the document's path buffer would be cut to some
  // other folder; it counts as unusable.
  if (!LookupDestination(destination, &record, doc.env()) || record.folder.size() >= kPathMax) {
    TraceLog("  Folder(%d) check NG", destination);
    *reply = ParaReply();
    return false;
  }
  reply->result = 1;
  reply->error = kErrNone;
  reply->value = PackAccessCode(record.accessCode);
  CopyToBuffer(record.folder, doc.folderPath, sizeof doc.folderPath);
  TraceLog("  Folder check OK");
  return true;
}

// A printer may send meta data (and so a job of its own naming) only when
// its class and protocol version go together.
bool MayRunJob(const ScanJob& job, uint16_t metaOffset) {
  switch (job.PeerClass()) {
    case kClassUndetermined:
      return true;
    case kClassGroupB:
      return metaOffset == 0;
    case kClassGroupA:
      return job.majorVersion != 3 && metaOffset != 0;
    default:
      return false;
  }
}

// Destination 0 carries a fax-receive notice instead of a job.
void HandleNotice(ScanJob& job, const uint8_t* body, size_t length, uint16_t metaOffset) {
  FaxNotice notice;
  ByteBlock block = Tail(body, length, metaOffset);
  bool ok = metaOffset < kNoticeOffsetLimit && ParseFaxNotice(block.data, block.size, &notice);
  if (ok) LogFaxNotice(notice, job.context->env());
  SendParaRes(job, ok ? 1 : 0, ok ? kErrNone : kErrFolder, kNoAccessCode);
  if (!ok) return;
  const ReceiverEvents& hooks = job.context->hooks();
  if (hooks.notifyConfig) hooks.notifyConfig(WM_USER + 1, 3);
  if (GetReceive() && hooks.receiveEndSignal) hooks.receiveEndSignal();
}

// The sender name for a file name: the "QNN_SKAN:" record's text, else the
// request's name field.
std::string SenderName(const uint8_t* body, size_t length, const ParaRequest& request) {
  std::string name;
  ByteBlock block = Tail(body, length, request.metaOffset);
  if (request.metaOffset != 0) {
    if (!HasMetaTag(block.data, block.size, kTagSenderName)) return "";
    name = TextAt(block.data, block.size, kMetaTagLength, kSenderNameChars);
  }
  if (name.empty()) name = TextAt(body, length, request.nameOffset, kSenderNameChars);
  return name;
}

// Applies an attribute record: sub-folder and file name. Returns the
// record's length (0 tells that the meta data are to be dropped).
uint16_t ApplyMetaAttributes(Document& doc, const uint8_t* body, size_t length,
                             uint16_t metaOffset) {
  ByteBlock block = Tail(body, length, metaOffset);
  MetaAttributes attributes;
  if (ParseMetaAttributes(block.data, block.size, &attributes)) {
    RemoveControlsAndSemicolons(&attributes.subFolder);
    RemoveControlsAndSemicolons(&attributes.fileName);
    const std::string folder = doc.folderPath;
    if (!attributes.subFolder.empty() && folder.size() + 1 + attributes.subFolder.size() < kPathMax) {
      // Deliberately never through a symbolic link: the sub-folder must be
      // a real folder below the destination, or the destination keeps the file.
      bool refused = false;
      CopyToBuffer(SubFolderBelow(folder, attributes.subFolder, &refused), doc.folderPath,
                   sizeof doc.folderPath);
      if (refused) TraceLog("  ### Sub-folder refused: a link or a way out of the destination");
    }
    if (!attributes.fileName.empty()) {
      // The name comes from the network: no separator may take it elsewhere.
      ReplaceInvalidNameChars(&attributes.fileName);
      CopyToBuffer(attributes.fileName, doc.fileName, sizeof doc.fileName);
    }
  }
  return attributes.length;
}

// Keeps a meta-data block too long for the parameter copy. Bytes the
// record announces but the request did not bring stay zero.
bool KeepLongMetaData(Document& doc, const uint8_t* body, size_t length, uint16_t metaOffset,
                      uint16_t metaLength) {
  doc.metaData.reset(new (std::nothrow) uint8_t[metaLength]());
  if (doc.metaData == nullptr) return false;
  doc.metaDataLength = metaLength;
  ByteBlock block = Tail(body, length, metaOffset);
  std::memcpy(doc.metaData.get(), block.data, std::min<size_t>(block.size, metaLength));
  return true;
}

}  // namespace

void OnPara(ScanJob& job, uint8_t* body, size_t length) {
  ParaRequest request = ReadRequest(body, length);
  request.nameOffset = request.metaOffset = 0;
  Document& doc = job.document;
  StartParaCopy(doc, TVS_DIRECT_PARA, request);

  ParaReply reply;
  int peerClass = job.PeerClass();
  if (peerClass == kClassOther || (peerClass != kClassUndetermined && job.majorVersion != 1)) {
    reply.error = kErrParaRefused;
  } else if (CheckFolder(doc, request.destination, &reply)) {
    doc.jobNo = NextJobNumber();
  } else {
    doc.fileOk = false;
  }
  SendParaRes(job, reply.result, reply.error, reply.value);
}

void OnPara2(ScanJob& job, uint8_t* body, size_t length) {
  ParaRequest request = ReadRequest(body, length);
  Document& doc = job.document;
  StartParaCopy(doc, TVS_DIRECT_PARA2, request);
  doc.checksum = 0;
  doc.rcvTotalImgBytes = 0;

  if (request.destination == 0) {
    HandleNotice(job, body, length, request.metaOffset);
    return;
  }

  ParaReply reply;
  if (!MayRunJob(job, request.metaOffset)) {
    LockClient(job.peerIp, job.context->env().WallSeconds());
  } else if (CheckFolder(doc, request.destination, &reply)) {
    if (request.metaOffset > kMetaOffsetLimit) request.metaOffset = 0;
    if (request.metaOffset == 0) job.deferredNotify = true;
    size_t copy = request.metaOffset == 0 ? kShortParaData : kLongParaData;
    if (length > kParaHeader) {
      std::memcpy(doc.paraCopy + kParaHeader, body + kParaHeader,
                  std::min(copy, length - kParaHeader));
    }
    KeepMetaOffset(doc, request.metaOffset);

    uint16_t metaLength = 0;
    if (request.metaOffset != 0) {
      metaLength = ApplyMetaAttributes(doc, body, length, request.metaOffset);
      if (metaLength == 0) KeepMetaOffset(doc, 0);
    }

    if (GetTOVScan() != 0) {
      char department[kDepNameSize] = "";
      GetDepName(department, sizeof department);
      std::string name =
          SenderFileName(SenderName(body, length, request), department, CurrentLocalTime());
      CopyToBuffer(name, doc.fileName, sizeof doc.fileName);
    }
    TraceLog("File Name = %s", doc.fileName);

    if (metaLength > kHeapMetaAbove &&
        !KeepLongMetaData(doc, body, length, request.metaOffset, metaLength)) {
      reply.result = 0;
      reply.error = kErrNoMemory;
    }
  }
  SendParaRes(job, reply.result, reply.error, reply.value);
}

void OnPara2Direct(ScanJob& job, uint8_t* body, size_t length) {
  ParaRequest request = ReadRequest(body, length);
  Document& doc = job.document;
  StartParaCopy(doc, TVS_DIRECT_PARA2, request);
  doc.checksum = 0;

  ParaReply reply;
  // The panel's folder check is a bare 8-byte request of protocol 3.0;
  // anything else is not a panel and is kept out.
  bool valid = job.majorVersion == 3 && job.minorVersion == 0 && request.nameOffset == 0 &&
               request.metaOffset == 0 && length == kParaHeader;
  if (!valid) {
    TraceLog("  Folder(%d) check NG", request.destination);
    LockClient(job.peerIp, job.context->env().WallSeconds());
  } else {
    CheckFolder(doc, request.destination, &reply);
  }
  SendParaResDirect(job, reply.result, reply.error, reply.value);
}

}  // namespace qb
