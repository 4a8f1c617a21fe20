// A document that has been put in its destination folder, as the storage
// steps after it (extension library, receive log) need to know it. The scan
// protocol fills one from its connection record at the end of a document;
// the FTP side is to fill one for each file it stores. Plain values, so
// that storage/ knows nothing of either protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// Bytes that live elsewhere: a meta data record or a piece of a request.
struct ByteBlock {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes that really exist behind `data`
};

struct StoredDocument {
  uint16_t destination = 0;  // number in the destination list
  std::string peerAddress;   // dotted address of the sending device
  // Name of the sender, "" when none was given; the extension step replaces
  // it with the one a sender-name meta data record carries.
  std::string senderName;
  // The sender name the device's request carried (scan protocol), used by
  // the receive log when `senderName` is empty.
  std::string requestSenderName;
  std::string outputPath;  // the stored file (the first one of several)
  int32_t fileCount = 0;   // files stored for the document
  // The meta data record of the document; the bytes stay with the caller
  // and must outlive the storage call.
  ByteBlock metaData;
};

}  // namespace qb
