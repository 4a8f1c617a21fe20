// Meta-data records as they arrive behind a parameter request: the
// attribute record (file name, sub-folder), the length rule of every tagged
// record, and the fax-receive notice with its date text. The input is the
// record; its first nine bytes are often replaced by one of the known tags
// so that every parser is reached from any input.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exact_copy.h"
#include "storage/meta_data.h"

namespace {

constexpr const char* kTags[] = {qb::kTagAttributes, qb::kTagRegisterDb, qb::kTagLocalFax,
                                 qb::kTagFaxNotice, qb::kTagSenderName};

void CheckAttributes(const uint8_t* record, size_t size) {
  qb::MetaAttributes attributes;
  const bool valid = qb::ParseMetaAttributes(record, size, &attributes);
  if (valid != qb::HasMetaTag(record, size, qb::kTagAttributes) && attributes.length != 0) {
    std::abort();
  }
  if (attributes.length >= qb::kMaxMetaRecordLength) std::abort();
  if (attributes.fileName.size() > 259 || attributes.subFolder.size() > 259) std::abort();
  // Parent references never survive in a sub-folder from the network.
  const std::string& folder = attributes.subFolder;
  for (size_t at = folder.find(".."); at != std::string::npos; at = folder.find("..", at + 1)) {
    const bool startsPart = at == 0 || folder[at - 1] == '/' || folder[at - 1] == '\\';
    const bool endsPart =
        at + 2 == folder.size() || folder[at + 2] == '/' || folder[at + 2] == '\\';
    if (startsPart && endsPart) std::abort();
  }
}

void CheckNotice(const uint8_t* record, size_t size) {
  qb::FaxNotice notice;
  if (!qb::ParseFaxNotice(record, size, &notice)) return;
  if (notice.textB.size() > 64 || notice.textC.size() > 64 || notice.textD.size() > 64 ||
      notice.textE.size() > 259 || notice.textF.size() > 259) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qb::fuzz::ExactCopy record(data, size);
  CheckAttributes(record.data(), record.size());
  CheckNotice(record.data(), record.size());
  if (size < 1) return 0;
  // The first byte picks a tag for the rest of the input.
  const char* tag = kTags[data[0] % (sizeof kTags / sizeof kTags[0])];
  qb::fuzz::ExactCopy tagged(data + 1, size - 1);
  if (tagged.size() >= qb::kMetaTagLength) {
    std::memcpy(tagged.data(), tag, qb::kMetaTagLength);
    CheckAttributes(tagged.data(), tagged.size());
    CheckNotice(tagged.data(), tagged.size());
  }
  return 0;
}
