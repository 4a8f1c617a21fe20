#include "storage/meta_data.h"

#include <algorithm>
#include <cstring>

#include "platform/clock_text.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "storage/bounded_text.h"
#include "storage/name_cleaning.h"

namespace qb {
namespace {

constexpr size_t kLengthAt = 10;
constexpr size_t kNumberAt = 12;
constexpr size_t kFirstTextOffsetAt = 14;
constexpr size_t kPathTextLimit = 259;
constexpr size_t kShortTextLimit = 64;
constexpr char kFallbackDate[] = "2020.01.01 00.00";

std::string TextNo(const uint8_t* record, size_t size, int index, size_t limit) {
  uint16_t offset = BigEndian16At(record, size, kFirstTextOffsetAt + 2 * index);
  return TextAt(record, size, offset, limit);
}

constexpr int kDatePartLimit = 1000000;

// "2021.03.04.05.06" as year, month, day, hour and minute; the last part
// runs to the end, missing parts read as 0.
LocalDateTime ParseDottedDate(const std::string& text) {
  int values[5] = {0, 0, 0, 0, 0};
  size_t start = 0;
  for (int i = 0; i < 5 && start <= text.size(); ++i) {
    size_t dot = i == 4 ? std::string::npos : text.find('.', start);
    std::string part =
        text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    // Far beyond any calendar value, but small enough that no later
    // arithmetic on a printer's number can overflow.
    values[i] = std::clamp(ParseLeadingInt(part.c_str()), -kDatePartLimit, kDatePartLimit);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  LocalDateTime when;
  when.year = values[0];
  when.month = values[1];
  when.day = values[2];
  when.hour = values[3];
  when.minute = values[4];
  return when;
}

// The log separates its columns with ";" and the sender is shown in lists
// split at ","; both are replaced, stepping over double-byte characters.
std::string CleanSender(std::string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsDoubleByteLead(static_cast<unsigned char>(text[i]))) {
      ++i;
    } else if (text[i] == ',' || text[i] == ';') {
      text[i] = '_';
    }
  }
  return text;
}

}  // namespace

bool HasMetaTag(const uint8_t* record, size_t size, const char* tag) {
  return record != nullptr && size >= kMetaTagLength &&
         std::memcmp(record, tag, kMetaTagLength) == 0;
}

bool ParseMetaAttributes(const uint8_t* record, size_t size, MetaAttributes* attributes) {
  *attributes = MetaAttributes();
  bool valid = HasMetaTag(record, size, kTagAttributes);
  if (valid) {
    attributes->fileName = TextNo(record, size, 1, kPathTextLimit);
    for (int i = 0; i < 4; ++i)
      attributes->attributes[i] = TextNo(record, size, i + 2, kPathTextLimit);
    attributes->subFolder = TextNo(record, size, 0, kPathTextLimit);
    NeutraliseParentRefs(&attributes->subFolder);
  }

  bool hasLength = HasMetaTag(record, size, kTagAttributes) ||
                   HasMetaTag(record, size, kTagRegisterDb) ||
                   HasMetaTag(record, size, kTagLocalFax);
  if (!hasLength) {
    attributes->length = kDefaultMetaRecordLength;
    return valid;
  }
  uint16_t length = BigEndian16At(record, size, kLengthAt);
  if (size < kLengthAt + 2 || length >= kMaxMetaRecordLength) {
    attributes->length = 0;
    return false;
  }
  attributes->length = length;
  return valid;
}

bool ParseFaxNotice(const uint8_t* record, size_t size, FaxNotice* notice) {
  *notice = FaxNotice();
  if (!HasMetaTag(record, size, kTagFaxNotice)) return false;
  notice->number = BigEndian16At(record, size, kNumberAt);

  uint16_t dateOffset = BigEndian16At(record, size, kFirstTextOffsetAt);
  if (dateOffset != 0 && dateOffset < size) {
    std::string date = TextAt(record, size, dateOffset, kShortTextLimit);
    // A text that fills the whole field cannot be a date the scanner meant.
    if (date.size() >= kShortTextLimit) date = kFallbackDate;
    notice->dateText = FormatShortDateTime(ParseDottedDate(date));
  }
  notice->textB = CleanSender(TextNo(record, size, 1, kShortTextLimit));
  notice->textC = TextNo(record, size, 2, kShortTextLimit);
  notice->textD = TextNo(record, size, 3, kShortTextLimit);
  notice->textE = TextNo(record, size, 4, kPathTextLimit);
  notice->textF = TextNo(record, size, 5, kPathTextLimit);
  return true;
}

}  // namespace qb
