// Meta data records: small tagged binary blocks that a scanner sends with a
// job to name the file, add a sub-folder, name the sender or announce a
// received fax. They come from the network: every offset and text is
// checked against the size of the block that really arrived, and nothing
// is read outside it.
//
// Layout (16-bit values big-endian, offsets from the record's first byte,
// offset 0 = text absent): bytes 0-8 tag; 10-11 record length; 12-13 a
// number (fax notices); 14-25 offsets of the texts T0..T5. A "QNN_SKAN:"
// record carries its one text (the sender name) right after the tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

constexpr char kTagAttributes[] = "QNA_ATTR:";
constexpr char kTagRegisterDb[] = "QNREG_DB:";
constexpr char kTagLocalFax[] = "QNR_LFAX:";
constexpr char kTagFaxNotice[] = "QNF_NOTI:";
constexpr char kTagSenderName[] = "QNN_SKAN:";
constexpr size_t kMetaTagLength = 9;
// Record lengths from this value on invalidate a "QNA_ATTR:" record.
constexpr uint16_t kMaxMetaRecordLength = 25600;
// Length reported for records without a length field of their own.
constexpr uint16_t kDefaultMetaRecordLength = 512;

struct MetaAttributes {
  std::string fileName;       // T1: the job's file name, at most 259 bytes
  std::string attributes[4];  // T2..T5: parsed, used by no caller
  std::string subFolder;      // T0, at most 259 bytes, parent references neutralised
  uint16_t length = 0;        // 0 tells the caller to drop the meta data
};

// True when the record is a valid "QNA_ATTR:" record. The length is the
// header's for "QNA_ATTR:", "QNREG_DB:" and "QNR_LFAX:" (0, and false, from
// 25600 on or when the block is too short to hold it) and 512 for any other
// record. Texts whose offset lies outside the block are empty.
bool ParseMetaAttributes(const uint8_t* record, size_t size, MetaAttributes* attributes);

struct FaxNotice {
  uint16_t number = 0;
  std::string dateText;  // in the receive log's date and time format
  std::string textB;     // the sender, at most 64 bytes, "," and ";" made "_"
  std::string textC;     // at most 64 bytes
  std::string textD;     // at most 64 bytes
  std::string textE;     // at most 259 bytes
  std::string textF;     // at most 259 bytes
};

// True for a "QNF_NOTI:" record. The date text T0 is read as
// "year.month.day.hour.minute" (each part by the atoi rule); a text of 64
// bytes or more reads as "2020.01.01 00.00"; an absent one gives "".
bool ParseFaxNotice(const uint8_t* record, size_t size, FaxNotice* notice);

// True when the block holds at least the tag and starts with it.
bool HasMetaTag(const uint8_t* record, size_t size, const char* tag);

}  // namespace qb
