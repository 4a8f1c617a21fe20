#include "storage/meta_data.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/storage/meta_record_builder.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

using testing::MetaRecordBuilder;
using testing::ScopedEnv;

MetaAttributes Attributes(const std::vector<uint8_t>& record, bool* valid) {
  MetaAttributes attributes;
  *valid = ParseMetaAttributes(record.data(), record.size(), &attributes);
  return attributes;
}

TEST(MetaAttributesParse, TextsAndNeutralisedSubFolder) {
  auto record = MetaRecordBuilder("QNA_ATTR:")
                    .Length(300)
                    .Text(0, "..\\../name")
                    .Text(1, "invoice")
                    .Text(2, "t2")
                    .Text(5, "t5")
                    .Bytes();
  bool valid = false;
  MetaAttributes attributes = Attributes(record, &valid);
  EXPECT_TRUE(valid);
  EXPECT_EQ(attributes.subFolder, "xxxxxxname");
  EXPECT_EQ(attributes.fileName, "invoice");
  EXPECT_EQ(attributes.attributes[0], "t2");
  EXPECT_EQ(attributes.attributes[1], "");
  EXPECT_EQ(attributes.attributes[3], "t5");
  EXPECT_EQ(attributes.length, 300);
}

TEST(MetaAttributesParse, LengthLimitAndOtherTags) {
  bool valid = false;
  MetaAttributes attributes =
      Attributes(MetaRecordBuilder("QNA_ATTR:").Length(25600).Text(1, "f").Bytes(), &valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(attributes.length, 0);
  attributes = Attributes(MetaRecordBuilder("QNA_ATTR:").Length(25599).Bytes(), &valid);
  EXPECT_TRUE(valid);
  EXPECT_EQ(attributes.length, 25599);

  attributes = Attributes(MetaRecordBuilder("QNREG_DB:").Length(700).Text(1, "f").Bytes(), &valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(attributes.length, 700);
  EXPECT_EQ(attributes.fileName, "");
  attributes = Attributes(MetaRecordBuilder("QNN_SKAN:").Length(700).Bytes(), &valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(attributes.length, 512);
}

TEST(MetaAttributesParse, NothingIsReadOutsideTheRecord) {
  // Offsets past the end, a text without NUL at the very end, a text longer
  // than its field, and records cut inside the header. The vectors are
  // exactly as long as the data, so the sanitizer build sees any over-read.
  auto record = MetaRecordBuilder("QNA_ATTR:").Length(100).Offset(0, 5000).Bytes();
  std::string unterminated = "abc";
  size_t at = record.size();
  record.insert(record.end(), unterminated.begin(), unterminated.end());
  record[16] = 0;
  record[17] = static_cast<uint8_t>(at);
  bool valid = false;
  MetaAttributes attributes = Attributes(record, &valid);
  EXPECT_TRUE(valid);
  EXPECT_EQ(attributes.subFolder, "");
  EXPECT_EQ(attributes.fileName, "abc");

  attributes =
      Attributes(MetaRecordBuilder("QNA_ATTR:").Text(1, std::string(400, 'n')).Bytes(), &valid);
  EXPECT_EQ(attributes.fileName.size(), 259u);

  for (size_t size : {0u, 5u, 9u, 11u, 12u, 20u}) {
    std::vector<uint8_t> cut(record.begin(), record.begin() + size);
    attributes = Attributes(cut, &valid);
    EXPECT_EQ(valid, size >= 12) << size;
  }
}

TEST(FaxNoticeParse, FieldsAndDate) {
  ScopedEnv locale("LC_ALL", "C");
  auto record = MetaRecordBuilder("QNF_NOTI:")
                    .Number(0x1234)
                    .Text(0, "2021.03.04.05.06")
                    .Text(1, "a,b;c")
                    .Text(2, "C")
                    .Text(3, std::string(80, 'd'))
                    .Text(4, "E")
                    .Text(5, "F")
                    .Bytes();
  FaxNotice notice;
  ASSERT_TRUE(ParseFaxNotice(record.data(), record.size(), &notice));
  EXPECT_EQ(notice.number, 0x1234);
  EXPECT_EQ(notice.dateText, "2021/03/04 05:06");
  EXPECT_EQ(notice.textB, "a_b_c");
  EXPECT_EQ(notice.textC, "C");
  EXPECT_EQ(notice.textD, std::string(64, 'd'));
  EXPECT_EQ(notice.textE, "E");
  EXPECT_EQ(notice.textF, "F");

  ScopedEnv utf8Locale("LC_ALL", "C.UTF-8");
  ASSERT_TRUE(ParseFaxNotice(record.data(), record.size(), &notice));
  EXPECT_EQ(notice.dateText, "2021/03/04 05:06");
}

TEST(FaxNoticeParse, DateFallbacks) {
  ScopedEnv locale("LC_ALL", "C");
  // Numbers far outside the calendar print nothing and overflow nothing
  // (the sanitizer build stops at signed overflow).
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {MetaRecordBuilder("QNF_NOTI:").Text(0, std::string(64, '9')).Bytes(), "2020/01/01 00:00"},
      {MetaRecordBuilder("QNF_NOTI:").Text(1, "B").Bytes(), ""},
      {MetaRecordBuilder("QNF_NOTI:").Text(0, "2021.13.04.25.06").Bytes(), " "},
      {MetaRecordBuilder("QNF_NOTI:").Text(0, "-99999999999.-99999999999.1.1.1").Bytes(), " 01:01"},
  };
  FaxNotice notice;
  for (const auto& [record, date] : cases) {
    ASSERT_TRUE(ParseFaxNotice(record.data(), record.size(), &notice)) << date;
    EXPECT_EQ(notice.dateText, date);
  }
  auto other = MetaRecordBuilder("QNA_ATTR:").Bytes();
  EXPECT_FALSE(ParseFaxNotice(other.data(), other.size(), &notice));
}

}  // namespace
}  // namespace qb
