// The printer panel's folder requests, through the in-process server.
#include "scanproto/folder_browse.h"

#include "scan_client.h"

namespace qb::test {
namespace {

TEST(PackDirEntriesTest, CutsAfterTheEntryThatReaches26001Bytes) {
  std::vector<uint8_t> out(kDirListCut + 256);
  uint16_t count = 0;
  EXPECT_EQ(PackDirEntries({}, out.data(), &count), 0u);
  EXPECT_EQ(count, 0);

  // 256-byte entries: 101 make 25856 bytes, the 102nd passes the cut.
  std::vector<std::string> names(300, std::string(255, 'n'));
  EXPECT_EQ(PackDirEntries(names, out.data(), &count), 102u * 256);
  EXPECT_EQ(count, 102);
  EXPECT_EQ(out[0], 0xFF);

  // Longer names are cut to what a length byte can say.
  EXPECT_EQ(PackDirEntries({std::string(300, 'x'), ".."}, out.data(), &count), 256u + 3);
  EXPECT_EQ(out[256], 2);
  EXPECT_EQ(out[257], '.');
}

class FolderBrowseTest : public ScanClientTest {
 protected:
  void SetUp() override {
    ScanClientTest::SetUp();
    folder_ = MakeFolder("dest3");
    WriteDestinations("3;" + folder_ + ";;;\n4;" + root_.path() + "/gone;;;\n");
    Connect(kDirectPort);
    DirectHandshake();
  }

  Bytes DirList(const std::string& path, uint16_t offset = 4) {
    Bytes request = Words({0x3801, offset});
    request.insert(request.end(), path.begin(), path.end());
    request.push_back(0);
    Send(request);
    return Reply();
  }

  std::string folder_;
};

TEST_F(FolderBrowseTest, DirNameGivesTheFolderOfAUsableDestination) {
  Bytes request = Words({0x3800, 3});
  Send(request);
  Bytes reply = Reply();
  ASSERT_EQ(reply.size(), 9 + folder_.size());
  EXPECT_EQ(Head(reply, 4), Words({0x3810, 1, 0, 8}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 8)), folder_);

  for (uint16_t missing : {4, 5}) {  // listed without a folder, not listed
    Put16(&request, 2, missing);
    Send(request);
    reply = Reply();
    ASSERT_EQ(reply.size(), 8u) << missing;
    EXPECT_EQ(Head(reply, 4), Words({0x3810, 0, 0x3E40, 0}));
  }
}

TEST_F(FolderBrowseTest, DirListSendsSortedSubFoldersAfterTheParent) {
  for (const char* name : {"b", "A", "c", ".hidden"}) MakeFolder(std::string("dest3/") + name);
  std::string longName(255, 'L');
  MakeFolder("dest3/" + longName);
  std::ofstream(folder_ + "/file.txt") << "not a folder";

  Bytes reply = DirList(folder_);
  ASSERT_EQ(Head(reply, 4), Words({0x3811, 1, 0, 5}));
  std::vector<std::string> names;
  for (size_t at = 8; at < reply.size(); at += 1 + reply[at]) {
    names.emplace_back(reply.begin() + static_cast<long>(at) + 1,
                       reply.begin() + static_cast<long>(at) + 1 + reply[at]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"..", "A", longName, "b", "c"}));
}

TEST_F(FolderBrowseTest, UnreadablePathsAndStrayOffsetsListNothing) {
  Bytes reply = DirList(root_.path() + "/nowhere");
  EXPECT_EQ(reply.size(), 8u);
  EXPECT_EQ(Get16(reply, 2), 1);
  EXPECT_EQ(Get16(reply, 6), 0);

  reply = DirList(folder_, 5000);  // the path offset lies beyond the request
  EXPECT_EQ(reply.size(), 8u);
  EXPECT_EQ(Get16(reply, 6), 0);

  // A path without its NUL at the very end of the request is read up to there.
  Bytes request = Words({0x3801, 4});
  request.insert(request.end(), folder_.begin(), folder_.end());
  Send(request);
  reply = Reply();
  EXPECT_EQ(Get16(reply, 6), 1);  // just ".."
}

// DirListScope 1: only destination folders and what lies below them are
// listed; the rest of the machine reads as unreadable, ".." tricks included.
TEST_F(FolderBrowseTest, ScopeOneListsOnlyDestinationFolders) {
  MakeFolder("dest3/sub");
  MakeFolder("elsewhere/secret");
  root_.WriteSettings("[MANAGEMENT]\nDirListScope=1\n");
  EXPECT_EQ(Get16(DirList(folder_), 6), 2);           // "..", "sub"
  EXPECT_EQ(Get16(DirList(folder_ + "/sub"), 6), 1);  // ".."
  EXPECT_EQ(Get16(DirList(root_.path() + "/elsewhere"), 6), 0);
  EXPECT_EQ(Get16(DirList(folder_ + "/../elsewhere"), 6), 0);
  EXPECT_EQ(Get16(DirList("/"), 6), 0);

  root_.WriteSettings("[MANAGEMENT]\nDirListScope=0\n");
  EXPECT_EQ(Get16(DirList(root_.path() + "/elsewhere"), 6), 2);
}

}  // namespace
}  // namespace qb::test
