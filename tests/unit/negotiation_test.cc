// Capability and parameter requests, through the in-process server.
#include <cstring>

#include "interop/window_messages.h"
#include "scan_client.h"
#include "scanproto/capability.h"
#include "scanproto/para_fields.h"
#include "storage/meta_data.h"
#include "tests/storage/meta_record_builder.h"

namespace qb::test {
namespace {

TEST(PackAccessCodeTest, DigitsFillGroupsFromTheRightAndAnythingElseIsNone) {
  // Leading zeros are zero groups.
  const std::pair<const char*, uint32_t> cases[] = {
      {"12345678", 0x12345678u}, {"00000042", 0x00000042u}, {"42", 0xFFFFFF42u},
      {"1234", 0xFFFF1234u},     {"", 0xFFFFFFFFu},         {"12a4", 0xFFFFFFFFu},
      {"123456789", 0xFFFFFFFFu}};
  for (const auto& [code, packed] : cases) EXPECT_EQ(PackAccessCode(code), packed) << code;
}

TEST(SenderFileNameTest, SenderDepartmentAndTimeStamp) {
  LocalDateTime when{2024, 1, 31, 14, 25, 30};
  EXPECT_EQ(SenderFileName("ABC", "", when), "ABC-20240131-142530");
  EXPECT_EQ(SenderFileName("ABC", "ACCT", when), "ABC-ACCT-20240131-142530");
  EXPECT_EQ(SenderFileName("../x:y", "", when), ".._x_y-20240131-142530");
}

Bytes Para2(uint16_t destination, uint16_t nameOffset, uint16_t metaOffset, size_t size) {
  Bytes body = Words({0x3402, destination, nameOffset, metaOffset});
  body.resize(size, 0);
  return body;
}

void PutBytes(Bytes* body, size_t at, const std::string& bytes) {
  if (body->size() < at + bytes.size()) body->resize(at + bytes.size(), 0);
  std::memcpy(body->data() + at, bytes.data(), bytes.size());
}

// A "QNA_ATTR:" record of `length` bytes with the sub-folder and file name.
std::string AttributeRecord(const std::string& subFolder, const std::string& fileName,
                            uint16_t length) {
  Bytes record = testing::MetaRecordBuilder("QNA_ATTR:")
                     .Length(length)
                     .Text(0, subFolder)
                     .Text(1, fileName)
                     .Bytes();
  record.resize(length);
  return std::string(record.begin(), record.end());
}

Bytes Cap(uint16_t major, uint16_t minor) { return Words({0x3400, major, minor}); }

class NegotiationTest : public ScanClientTest {
 protected:
  void SetUp() override {
    ScanClientTest::SetUp();
    folder_ = MakeFolder("dest7");
    WriteDestinations("7;" + folder_ + ";Seven;1234;\n9;" + root_.path() + "/missing;;;\n");
  }

  // Job-port capability with `major`, then `request`; the parameter reply.
  Bytes Negotiate(const Bytes& request, uint16_t major = 1) {
    Send(Cap(major, 0));
    EXPECT_EQ(Reply().size(), kCapResLength);
    Send(request);
    return Reply();
  }

  // Sends a later request of the same connection; whether it was accepted.
  bool Accepted(const Bytes& request) {
    Send(request);
    return Get16(Reply(), 2) == 1;
  }

  std::string folder_;
};

TEST_F(NegotiationTest, JobPortCapabilityCarriesFormatsAndNoKey) {
  Connect(kJobPort);
  Send(Cap(1, 2));
  Bytes reply = Reply();
  ASSERT_EQ(reply.size(), 106u);
  EXPECT_EQ(Get16(reply, 0), 0x3410);
  EXPECT_EQ(Get16(reply, 2), 1);
  const uint16_t offsets[] = {16, 27, 37, 0, 0, 0};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(Get16(reply, 4 + 2 * i), offsets[i]) << i;
  EXPECT_STREQ(reinterpret_cast<const char*>(reply.data() + 16), "TIFF-G4MMR");
  EXPECT_STREQ(reinterpret_cast<const char*>(reply.data() + 27), "PDF-G4MMR");
  EXPECT_STREQ(reinterpret_cast<const char*>(reply.data() + 37), "TIFF-G3MH");
  EXPECT_EQ(Job().majorVersion, 1);
  EXPECT_EQ(Job().minorVersion, 2);
}

TEST_F(NegotiationTest, DirectCapabilityHandsOutTheKeyUnderTheServerZeroKey) {
  Connect(kDirectPort);
  Bytes reply = DirectHandshake(3, 0, 4321);
  ASSERT_EQ(reply.size(), 106u);
  EXPECT_EQ(Get16(reply, 0), 0x3410);
  // Filler offsets are little-endian: 47 and 56.
  EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 14), (Bytes{0x2F, 0x00, 0x38, 0x00}));
  for (size_t at : {47u, 56u}) {
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_GE(reply[at + i], 0x21);
      EXPECT_LE(reply[at + i], 0x7D);
    }
    EXPECT_EQ(reply[at + 8], 0);
  }
  EXPECT_LT(Get16(reply, 14), 1000);
  EXPECT_EQ(Job().serverKeyNo, Get16(reply, 14));
  EXPECT_EQ(Job().clientKeyNo, 4321);

  // Later requests use the full key: a folder check is understood.
  Send(Para2(7, 0, 0, 8));
  Bytes para = Reply();
  EXPECT_EQ(Get16(para, 0), 0x3411);
  EXPECT_EQ(Get16(para, 2), 1);
  EXPECT_EQ(Get32(para, 6), 0xFFFF1234u);
}

// Refused folder checks: the error, and whether the printer is locked out.
TEST_F(NegotiationTest, RefusedRequestsAndWhichOnesLockThePrinterOut) {
  const Bytes para = Words({0x3401, 7});
  const struct {
    const char* what;
    uint16_t port;
    const char* from;
    uint16_t major;
    Bytes request;
    uint16_t error;
    bool locked;
  } cases[] = {
      {"direct, listed but its folder is missing", kDirectPort, kPrinterIp, 3, Para2(9, 0, 0, 8),
       0x3E40, false},
      {"direct, one byte more than the bare request", kDirectPort, kPrinterIp, 3,
       Para2(7, 0, 0, 9), 0x3E40, true},
      {"direct, protocol 1.0", kDirectPort, kPrinterIp, 1, Para2(7, 0, 0, 8), 0x3E40, true},
      {"para from the PC itself", kJobPort, kSelfIp, 1, para, 0x3E01, false},
      {"para2 from the PC itself", kJobPort, kSelfIp, 1, Para2(7, 0, 0, 26), 0x3E40, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ClearLockedClients();
    key_.clear();
    Connect(c.port, c.from);
    Bytes reply;
    if (c.port == kDirectPort) {
      DirectHandshake(c.major, 0);
      Send(c.request);
      reply = Reply();
    } else {
      reply = Negotiate(c.request, c.major);
    }
    EXPECT_EQ(Head(reply, 5), Words({Get16(reply, 0), 0, c.error, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(IsLocked(c.from, env_.WallSeconds()), c.locked);
  }
}

TEST_F(NegotiationTest, ParaChecksVersionClassAndFolder) {
  Bytes para = Words({0x3401, 7});
  Connect(kJobPort);
  // Major version 2 passes only because this printer's class is unknown.
  Bytes reply = Negotiate(para, 2);
  EXPECT_EQ(Get16(reply, 2), 1);
  EXPECT_EQ(Get32(reply, 6), 0xFFFF1234u);
  EXPECT_EQ(std::string(Job().document.folderPath), folder_);
  EXPECT_GT(Job().document.jobNo, 0);

  Put16(&para, 2, 9);
  Send(para);
  reply = Reply();
  EXPECT_EQ(Get16(reply, 4), 0x3E40);
  EXPECT_FALSE(Job().document.fileOk);
}

TEST_F(NegotiationTest, Para2WithoutMetaDataDefersTheNotice) {
  Connect(kJobPort);
  Bytes request = Para2(7, 8, 0, 26);
  PutBytes(&request, 8, "FRONT DESK");
  Bytes reply = Negotiate(request);
  EXPECT_EQ(Get16(reply, 2), 1);
  EXPECT_EQ(Get32(reply, 6), 0xFFFF1234u);
  EXPECT_TRUE(Job().deferredNotify);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Job().document.paraCopy + 8)), "FRONT DESK");
  EXPECT_EQ(Job().document.fileName[0], '\0');
}

TEST_F(NegotiationTest, AttributeRecordNamesTheFileAndSubFolder) {
  MakeFolder("dest7/sub");
  Connect(kJobPort);
  Bytes request = Para2(7, 0, 26, 540);
  PutBytes(&request, 26, AttributeRecord("sub", "a/b", 100));
  Bytes reply = Negotiate(request);
  EXPECT_EQ(Get16(reply, 2), 1);
  EXPECT_EQ(std::string(Job().document.folderPath), folder_ + "/sub");
  EXPECT_EQ(std::string(Job().document.fileName), "a_b");  // no separator from the network
  EXPECT_FALSE(Job().deferredNotify);
  EXPECT_EQ(Job().document.para.metaOffset, 26);
  EXPECT_EQ(Get16(Bytes(Job().document.paraCopy, Job().document.paraCopy + 8), 6), 26);

  // A sub-folder that would make the path 260 characters long is left out.
  std::string longName(259 - folder_.size(), 'x');
  PutBytes(&request, 26, AttributeRecord(longName, "n", 400));
  EXPECT_TRUE(Accepted(request));
  EXPECT_EQ(std::string(Job().document.folderPath), folder_);
  EXPECT_EQ(std::string(Job().document.fileName), "n");

  // A later request without a name keeps the one the job has.
  PutBytes(&request, 26, AttributeRecord("", "", 100));
  EXPECT_TRUE(Accepted(request));
  EXPECT_EQ(std::string(Job().document.fileName), "n");
}

TEST_F(NegotiationTest, LongMetaDataIsKeptAndAnAnnouncedTailThatNeverCameIsZero) {
  Connect(kJobPort);
  std::string record = AttributeRecord("", "doc", 700);
  record[699] = 0x5A;
  Bytes request = Para2(7, 0, 26, 26);
  request.insert(request.end(), record.begin(), record.end());
  EXPECT_EQ(Get16(Negotiate(request), 2), 1);
  ASSERT_NE(Job().document.metaData, nullptr);
  ASSERT_EQ(Job().document.metaDataLength, 700u);
  EXPECT_EQ(Job().document.metaData[699], 0x5A);
  EXPECT_EQ(std::memcmp(Job().document.metaData.get(), "QNA_ATTR:", 9), 0);

  // The same record cut off after 600 bytes: the rest reads as zeros.
  request.resize(26 + 600);
  EXPECT_TRUE(Accepted(request));
  ASSERT_EQ(Job().document.metaDataLength, 700u);
  EXPECT_EQ(Job().document.metaData[599], record[599]);
  EXPECT_EQ(Job().document.metaData[699], 0);

  // A record whose length is out of range drops the meta data.
  Put16(&request, 26 + 10, 25600);
  EXPECT_TRUE(Accepted(request));
  EXPECT_EQ(Job().document.metaData, nullptr);
  EXPECT_EQ(Job().document.para.metaOffset, 0);
  EXPECT_EQ(Get16(Bytes(Job().document.paraCopy, Job().document.paraCopy + 8), 6), 0);
}

TEST_F(NegotiationTest, OffsetsBeyondTheRequestReadNothing) {
  Connect(kJobPort);
  // A meta offset past the body, and one past the limit (counts as none).
  EXPECT_EQ(Get16(Negotiate(Para2(7, 5000, 600, 540)), 2), 1);
  EXPECT_EQ(Job().document.metaData, nullptr);
  EXPECT_FALSE(Job().deferredNotify);
  EXPECT_TRUE(Accepted(Para2(7, 0, 30000, 10)));
  EXPECT_TRUE(Job().deferredNotify);
  // A request cut after its code still gets an answer.
  Send(Bytes{0x34, 0x02, 0x00});
  EXPECT_EQ(Get16(Reply(), 0), 0x3411);
}

TEST_F(NegotiationTest, SenderNameMakesTheFileNameWhenTheSettingSaysSo) {
  root_.WriteSettings("[IDS]\nTOVScan=1\nDepName=ACCT\n");
  Connect(kJobPort);
  Bytes request = Para2(7, 8, 26, 540);
  PutBytes(&request, 8, "IGNORED");
  PutBytes(&request, 26, std::string("QNN_SKAN:Jo/Ann") + '\0');
  EXPECT_EQ(Get16(Negotiate(request), 2), 1);
  std::string name = Job().document.fileName;
  // "Jo_Ann-ACCT-YYYYMMDD-hhmmss"
  EXPECT_EQ(name.substr(0, 12), "Jo_Ann-ACCT-");
  EXPECT_EQ(name.size(), 12u + 15u);

  // Without meta data the name field is the sender.
  root_.WriteSettings("[IDS]\nTOVScan=1\n");
  Bytes plain = Para2(7, 8, 0, 26);
  PutBytes(&plain, 8, "ABCDEFGHIJKLMNOPQRS");  // cut to 16
  EXPECT_TRUE(Accepted(plain));
  EXPECT_EQ(std::string(Job().document.fileName).substr(0, 17), "ABCDEFGHIJKLMNOP-");
}

TEST_F(NegotiationTest, DestinationZeroLogsAFaxNotice) {
  Connect(kJobPort);
  Bytes notice(64, 0);
  PutBytes(&notice, 0, "QNF_NOTI:");
  Put16(&notice, 14, 40);  // date text
  PutBytes(&notice, 40, std::string("2021.03.04.05.06") + '\0');
  Bytes request = Para2(0, 0, 26, 26);
  request.insert(request.end(), notice.begin(), notice.end());
  Bytes reply = Negotiate(request);
  EXPECT_EQ(Get16(reply, 2), 1);
  EXPECT_EQ(Get32(reply, 6), 0xFFFFFFFFu);
  EXPECT_NE(ReadWholeFile(root_.DataDir() + "/tvscanlog_f.bin"), "");
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0], std::make_pair(WM_USER + 1, int64_t{3}));

  // No notice block (or one at 541 and beyond) is refused.
  Put16(&request, 6, 541);
  Send(request);
  EXPECT_EQ(Get16(Reply(), 4), 0x3E40);
  EXPECT_EQ(notices_.size(), 1u);
}

}  // namespace
}  // namespace qb::test
