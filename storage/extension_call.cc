#include "storage/extension_call.h"

#include <algorithm>

#include "platform/dynlib.h"
#include "platform/local_trust.h"
#include "storage/data_files.h"
#include "storage/bounded_text.h"
#include "storage/destinations.h"
#include "storage/extension_api.h"
#include "storage/meta_data.h"
#include "storage/raw_dump.h"

namespace qb {
namespace {

constexpr size_t kMetaLengthAt = 10;
constexpr size_t kSenderNameLimit = 32;

// The dump shows as many bytes of the record as its header claims, but
// never more than really arrived.
void DumpMetaRecord(const ByteBlock& record, Env& env) {
  size_t claimed = BigEndian16At(record.data, record.size, kMetaLengthAt);
  RawDumpText(env, "MetaData=");
  RawDumpBytes(env, record.data, std::min(claimed, record.size));
}

void CallExtension(const std::string& libraryName, const StoredDocument& document, int32_t* status,
                   Env& env) {
  if (RawDumpEnabled()) RawDumpPrintf(env, "Loading ExtDLL : %s\n", libraryName.c_str());
  // The library runs in this process: in service mode, only one that
  // nobody outside the account and its group could have named or changed.
  if (!MayRunProgram(libraryName, SharedDataFilePath(kDestinationListName))) return;
  DynamicLibrary library(libraryName);
  auto function = reinterpret_cast<QuernExtExpFunc>(library.Symbol(QUERN_EXT_EXPORT_NAME));
  if (function == nullptr) return;

  const ByteBlock& meta = document.metaData;
  ExtParams params;
  params.pScannerAddr = document.peerAddress.c_str();
  params.slRcvFileNum = document.fileCount;
  params.pRcvFileName = document.outputPath.c_str();
  params.pMetaData = meta.data;
  params.pSenderNameJp = document.senderName.c_str();
  params.slSaveNo = document.destination;

  if (RawDumpEnabled()) {
    DumpMetaRecord(meta, env);
    RawDumpPrintf(env,
                  "QuernExtExpFunc : pScannerAddr = %s, slRcvFileNum = %d, pRcvFileName = %s, "
                  "pSenderNameJp = %s, slSaveNo = %d\n",
                  params.pScannerAddr, params.slRcvFileNum, params.pRcvFileName,
                  params.pSenderNameJp, params.slSaveNo);
  }
  int result = function(QUERN_EXT_OPERATION_STORED, status, &params, nullptr);
  if (RawDumpEnabled()) RawDumpPrintf(env, "QuernExtExpFunc complete(%d)\n", result);
}

}  // namespace

bool qnExtParaOperation(StoredDocument* document, int32_t* status, Env& env) {
  DestinationRecord destination;
  if (!LookupDestination(document->destination, &destination, env)) return false;

  if (!destination.extensionLibrary.empty()) {
    CallExtension(destination.extensionLibrary, *document, status, env);
  }
  const ByteBlock& meta = document->metaData;
  if (!HasMetaTag(meta.data, meta.size, kTagSenderName)) return false;
  document->senderName = TextAt(meta.data, meta.size, kMetaTagLength, kSenderNameLimit);
  return true;
}

}  // namespace qb
