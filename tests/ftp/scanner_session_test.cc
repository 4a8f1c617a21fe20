// The scanner FTP session: login by challenge answer, access code or
// ticket; the tree of numbered destinations; and what is saved where when a
// session ends. Driven over real sockets against ScannerFtpServer on a port
// the system picks, with a clock the tests move.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config/folders.h"
#include "ftp/ftp_challenge.h"
#include "ftp/scanner_ftp_server.h"
#include "ftp/scanner_ftp_session.h"
#include "ftp/scanner_paths.h"
#include "interop/window_messages.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "storage/name_reservations.h"
#include "tests/ftp/test_server.h"
#include "tests/storage/meta_record_builder.h"

namespace qb::test {
namespace {

namespace fs = std::filesystem;

// Files a content check accepts: a JPEG of 200 by 200 dots per inch, and
// a PDF with its information object, holding the creation date, within the
// last 180 bytes before the cross-reference section, as printers write it.
const std::string kGoodJpeg(
    "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01\x00\xC8\x00\xC8\x00\x00\xFF\xD9", 22);
std::string GoodPdf() {
  const std::string objects = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n%" +
                              std::string(150, 'x') +
                              "\n2 0 obj\n<<\n/CreationDate (D:2026)\n>>\nendobj\n";
  return objects + "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 3 >>\nstartxref\n" +
         std::to_string(objects.size()) + "\n%%EOF\n";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A "QNA_ATTR:" record naming `subFolder`.
std::string AttributeRecord(const std::string& subFolder) {
  const std::vector<uint8_t> record = testing::MetaRecordBuilder("QNA_ATTR:")
                                          .Length(static_cast<uint16_t>(27 + subFolder.size()))
                                          .Text(0, subFolder)
                                          .Bytes();
  return std::string(record.begin(), record.end());
}

struct Announcements {
  std::mutex mutex;
  std::vector<int> tray;
  std::vector<std::pair<uint32_t, int64_t>> notices;
  std::vector<uint16_t> states;
  std::atomic<int> signals{0};
};

class ScannerSessionTest : public ::testing::Test, protected FtpTestBed {
 protected:
  void SetUp() override {
    for (int n : {1, 3, 5, 6, 7}) {
      folder_[n] = root_.path() + "/srv/d" + std::to_string(n);
      fs::create_directories(folder_[n]);
    }
    std::ofstream(root_.DataDir() + "/tvscan_f.bin")
        << "1;" << folder_[1] << ";One;;\n"
        << "3;" << folder_[3] << ";Three;;\n"
        << "5;" << folder_[5] << ";Five;1234;\n"
        << "6;" << folder_[6] << ";Six;9999;\n"
        << "7;" << folder_[7] << ";Seven;;" << QB_EXAMPLE_EXTENSION << "\n";
    ::setenv("QUERN_EXT_EXAMPLE_LOG", (root_.path() + "/extension.log").c_str(), 1);
  }
  void TearDown() override {
    if (server_) server_->Stop();
    ::unsetenv("QUERN_EXT_EXAMPLE_LOG");
  }

  void Start(const std::string& management = "") {
    Prepare(management, /*manualClock=*/true);
    ReceiverEvents hooks;
    auto* seen = &seen_;
    auto locked = [seen](const std::function<void()>& change) {
      std::lock_guard<std::mutex> lock(seen->mutex);
      change();
    };
    hooks.trayState = [=](int state) { locked([&] { seen->tray.push_back(state); }); };
    hooks.notifyConfig = [=](uint32_t message, int64_t value) {
      locked([&] { seen->notices.emplace_back(message, value); });
    };
    hooks.receiveEndSignal = [seen] { ++seen->signals; };
    hooks.connectionState = [=](uint16_t state) { locked([&] { seen->states.push_back(state); }); };
    hooks.classifyPeer = [](const char* ip) { return std::string(ip) == "127.0.0.3" ? 2 : 1; };
    server_ = std::make_unique<ScannerFtpServer>(hooks, *env_);
    ASSERT_NE(Listen(*server_), 0);
  }

  // Greeting and USER; the challenge of the 331 reply.
  std::string Greet(FtpLineClient& client, const std::string& user = "scanner") {
    EXPECT_EQ(client.Reply(), kGreeting);
    const std::string reply = client.Command("USER " + user);
    EXPECT_EQ(reply.size(), 4 + 20 + std::string(" Password required for " + user + ".").size()) << reply;
    EXPECT_EQ(reply.substr(24), " Password required for " + user + ".");
    return reply.substr(4, 20);
  }
  std::unique_ptr<FtpLineClient> WithAnswer(uint32_t from = 0, std::string* answerOut = nullptr) {
    auto client = Connect(from);
    const std::string challenge = Greet(*client);
    char answer[41];
    ExpectedAnswer(challenge.c_str(), answer);
    if (answerOut != nullptr) *answerOut = answer;
    EXPECT_EQ(client->Command(std::string("PASS ") + answer), "230 User scanner logged in.");
    return client;
  }
  std::unique_ptr<FtpLineClient> WithCode(const std::string& code, uint32_t from = 0) {
    auto client = Connect(from);
    Greet(*client);
    EXPECT_EQ(client->Command("PASS " + code), "230 User scanner logged in.");
    return client;
  }
  void Quit(FtpLineClient& client) {
    EXPECT_EQ(client.Command("QUIT"), "221 Goodbye.");
    EXPECT_EQ(client.Reply(), "<closed>");
    WaitForSessionsToEnd();
  }
  void WaitForSessionsToEnd() {
    ASSERT_TRUE(WaitUntil([&] { return server_->SessionCount() == 0; }));
  }
  std::string ReceiveLog() { return ReadWholeFile(root_.DataDir() + "/tvscanlog_f.bin"); }
  std::map<int, std::string> folder_;
  std::unique_ptr<ScannerFtpServer> server_;
  Announcements seen_;
};

// ---- pure rules ----

TEST(ScannerChallengeTest, LayoutAndAnswer) {
  char challenge[21];
  // Counter bytes least significant first; time bits 24..0 in bytes 6..9.
  FormatChallenge(0x00FFEEDDCCBBAA99ull, 0x1ABCDEF, challenge);
  EXPECT_STREQ(challenge, "99AABBCCDDEE7FABCDEF");
  FormatChallenge(0x0080000000000000ull, 0x0123456, challenge);
  EXPECT_STREQ(challenge, "00000000000000123456");
  FormatChallenge(0, 0x7FFFFFFF, challenge);  // only 25 bits of the time
  EXPECT_STREQ(challenge, "00000000000001FFFFFF");

  // The answer is SHA-1 over the secret and the challenge's ten bytes
  // (worked out with Python's hashlib), whatever the case of its digits.
  const char* expected = "C2E5C61E5AB8F1C17F5A20C53455EC4E520AF6BC";
  char answer[41];
  for (const char* challenge : {"0123456789ABCDEF00FF", "0123456789abcdef00ff"}) {
    ExpectedAnswer(challenge, answer);
    EXPECT_STREQ(answer, expected);
  }
  std::string lower = Lower(expected);
  EXPECT_TRUE(AnswerMatches(lower.c_str(), expected));
  EXPECT_FALSE(AnswerMatches(lower.substr(0, 39).c_str(), expected));
  lower[39] = lower[39] == '0' ? '1' : '0';
  EXPECT_FALSE(AnswerMatches(lower.c_str(), expected));

  // Two challenges in a row differ (the counter moves).
  char first[21], second[21];
  MakeChallenge(1700000000, first);
  MakeChallenge(1700000000, second);
  EXPECT_STRNE(first, second);
}

TEST(ScannerPathsTest, DirectoryChanges) {
  auto kind = [](const char* path, int current) { return ParseDirectoryChange(path, current).kind; };
  EXPECT_EQ(kind("..", 3), DirectoryChange::kRoot);
  EXPECT_EQ(kind("/", 0), DirectoryChange::kRoot);
  // "70000" may not wrap onto 4464.
  for (const char* refused : {"..", ".", "0", "abc", "70000"}) {
    EXPECT_EQ(kind(refused, 0), DirectoryChange::kRefused) << refused;
  }
  DirectoryChange change = ParseDirectoryChange("/03", 0);
  EXPECT_EQ(change.kind, DirectoryChange::kEnter);
  EXPECT_EQ(change.destination, 3);
  change = ParseDirectoryChange("3/sub\\deeper", 0);
  EXPECT_EQ(change.kind, DirectoryChange::kProbeSubFolder);
  EXPECT_EQ(change.subFolder, "sub/deeper");
  EXPECT_EQ(ParseDirectoryChange("3/", 0).kind, DirectoryChange::kEnter);
}

// The upload path, the current destination; the destination and name it
// stores under (destination -1: refused).
TEST(ScannerPathsTest, StoreNames) {
  const struct {
    const char* path;
    int current, destination;
    const char* name;
  } cases[] = {{"3/scan.pdf", 0, 3, "scan.pdf"}, {"scan.pdf", 3, 3, "scan.pdf"},
               {"\\5\\.\\a.tif", 1, 5, "a.tif"}, {"../7/x", 3, 7, "x"},
               {"", 3, 3, ""},                   {"/scan.pdf", 3, -1, ""},
               {"sub/scan.pdf", 0, -1, ""},      {"scan.pdf", 0, -1, ""},
               {"3//x", 0, -1, ""},              {"../../x", 3, -1, ""},
               {"99999/x", 0, -1, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    int d = -1;
    std::string name;
    ASSERT_EQ(ParseStoreName(c.path, c.current, &d, &name), c.destination >= 0);
    if (c.destination >= 0) {
      EXPECT_EQ(d, c.destination);
      EXPECT_EQ(name, c.name);
    }
  }
}

// Names that would make an upload take a folder's name are refused; what
// is left goes into a file name and the log without controls or ";".
TEST(ScannerPathsTest, StoreNamesNeverNameAFolderOrCarryControls) {
  int d = 0;
  std::string name;
  for (const char* folder : {"3/", "/3/", "3\\", "3/.", "3/..", "\r\n"}) {
    EXPECT_FALSE(ParseStoreName(folder, 0, &d, &name)) << folder;
  }
  ASSERT_TRUE(ParseStoreName("3/a;b\r\n\x01.pdf", 0, &d, &name));
  EXPECT_EQ(name, "ab.pdf");
  // Under code page 932 a "/" after a lead byte still separates: the
  // component before it is no destination number.
  ::setenv("QUILLBOX_CODEPAGE", "932", 1);
  EXPECT_FALSE(ParseStoreName("3/\x81/x.pdf", 0, &d, &name));
  ASSERT_TRUE(ParseStoreName("3/\x81\\x.pdf", 0, &d, &name));  // "\\" is a second byte here
  EXPECT_EQ(name, "\x81\\x.pdf");
  ::unsetenv("QUILLBOX_CODEPAGE");
}

TEST(ScannerPathsTest, NamesAndPlacement) {
  EXPECT_EQ(DbaBasePath("/d/@DBA@1#2#doc.pdf"), "/d/doc.pdf");
  for (const char* kept : {"/d/@DBA@1#2#", "/d/@DBA@1#2#..", "/d/@DBA@12doc.pdf", "/d/@dba@1#2#doc.pdf"}) {
    EXPECT_EQ(DbaBasePath(kept), kept);
  }
  EXPECT_TRUE(IsMetaFileName("@DBA@1#2#doc.META"));
  EXPECT_FALSE(IsMetaFileName("@dba@1#2#doc.meta"));
  EXPECT_EQ(MetaBaseName("/d/@DBA@1#2#doc.meta"), "@DBA@1#2#doc");

  // Each "..\\" becomes "xxx"; an absolute folder is none.
  const std::pair<const char*, const char*> cleaned[] = {
      {"..\\..\\x", "xxxxxxx"}, {"../../x", "xxxxxxx"}, {"a\\b\\\\c\\", "a/b/c"},
      {"/etc", ""},             {"\\etc", ""},         {"a/..", "a/xx"}};
  for (const auto& [in, out] : cleaned) EXPECT_EQ(CleanSubFolder(in), out) << in;

  std::string out;
  ASSERT_TRUE(PlaceIntoSubFolder("/d/doc.pdf", "", &out));
  EXPECT_EQ(out, "/d/doc.pdf");
  ASSERT_TRUE(PlaceIntoSubFolder("/d/doc.pdf", "a/b", &out));
  EXPECT_EQ(out, "/d/a/b/doc.pdf");
  ASSERT_TRUE(PlaceIntoSubFolder("doc.pdf", "a/", &out));
  EXPECT_EQ(out, "a/doc.pdf");
  EXPECT_FALSE(PlaceIntoSubFolder("/d/doc.pdf", std::string(250, 'a'), &out));

  EXPECT_EQ(SeriesPath("/d_x/scan_000.pdf", 3, 2), "/d_x/scan_002.pdf");
  EXPECT_EQ(SeriesPath("/d/scan(1)_000.pdf", 3, 12), "/d/scan(1)_012.pdf");
  EXPECT_EQ(SeriesPath("/d/scan_000.pdf", 3, 1234), "/d/scan_234.pdf");
}

// ---- sessions ----

TEST_F(ScannerSessionTest, ChallengeAnswerTicketAndAccessCodeLogins) {
  Start();
  // A lower-case answer logs in with challenge login: access codes do not apply.
  auto client = Connect();
  const std::string challenge = Greet(*client);
  char answer[41];
  ExpectedAnswer(challenge.c_str(), answer);
  EXPECT_EQ(WrongReplies(*client, {{"PASS " + Lower(answer), "230 User scanner logged in."},
                                   {"CWD 6", kCwdOk}}),
            "");
  Quit(*client);

  // The code of destination 5 opens 5, not 6; the refusal counts once.
  auto coded = WithCode("1234");
  EXPECT_EQ(WrongReplies(*coded, {{"CWD 5", kCwdOk}, {"CWD 6", kDenied}, {"CWD 6", kDenied},
                                  {"CWD 42", kDenied}}),
            "");
  EXPECT_EQ(server_->FailedLoginCount(), 1u);
  Quit(*coded);

  // No password: only destinations without a code.
  auto empty = Connect();
  Greet(*empty);
  EXPECT_EQ(WrongReplies(*empty, {{"PASS", "230 User scanner logged in."},
                                  {"CWD 1", kCwdOk}, {"CWD /5", kDenied}}),
            "");
  Quit(*empty);

  // The answer of an earlier challenge is no password, and a new USER
  // makes a new challenge.
  auto stale = Connect();
  const std::string second = Greet(*stale);
  EXPECT_NE(second, challenge);
  EXPECT_EQ(stale->Command(std::string("PASS ") + answer), "530 Login incorrect.");
}

TEST_F(ScannerSessionTest, LockOutAfterThreeFailuresUntil61SecondsHavePassed) {
  Start();
  const uint32_t from = 0x7F00000A;
  for (int i = 0; i < 3; ++i) {
    auto client = Connect(from);
    Greet(*client);
    EXPECT_EQ(client->Command("PASS wrong"), "530 Login incorrect.");
    EXPECT_EQ(client->Reply(), "<closed>");
    env_->AdvanceSeconds(20);
  }
  WaitForSessionsToEnd();
  // The fourth connection is closed without a greeting; others still come in.
  auto refused = Connect(from);
  EXPECT_EQ(refused->Reply(), "<closed>");
  auto other = Connect(0x7F00000B);
  EXPECT_EQ(other->Reply(), kGreeting);
  other.reset();
  // The last failure was 20 s ago; 61 s after it the door opens again.
  env_->AdvanceSeconds(40);
  auto still = Connect(from);
  EXPECT_EQ(still->Reply(), "<closed>");
  env_->AdvanceSeconds(1);
  auto again = Connect(from);
  EXPECT_EQ(again->Reply(), kGreeting);
}

TEST_F(ScannerSessionTest, HardwareAddressCheckAdmitsOnlyServedPrinters) {
  Start("MACAddressCheck=1\n");
  auto local = Connect(kLoopback);
  EXPECT_EQ(local->Reply(), "<closed>");
  auto printer = Connect(0x7F000003);
  EXPECT_EQ(printer->Reply(), kGreeting);
}

TEST_F(ScannerSessionTest, DirectoryRulesAndRootRefusals) {
  Start();
  fs::create_directories(folder_[3] + "/sub");
  fs::create_directory_symlink(folder_[3] + "/sub", folder_[3] + "/linked");
  auto client = WithCode("");
  const std::string atRoot = "257 \"/\" is current directory";
  EXPECT_EQ(WrongReplies(*client, {{"PWD", atRoot}, {"CWD 0", kDenied}, {"CWD .", kDenied},
                                   {"CWD ..", kDenied}}),
            "");
  const uint16_t port = PassivePort(client->Command("PASV"));
  const int data = client->ConnectData(port);
  EXPECT_EQ(client->Command("LIST"), kDenied);
  EXPECT_EQ(client->Command("STOR a.pdf"), "451 STOR error.");
  SockClose(data);
  // A probe of a sub-folder is answered but not entered; "3/../../.."
  // exists, but outside.
  EXPECT_EQ(WrongReplies(*client, {{"CWD /03", kCwdOk},
                                   {"PWD", "257 \"/3\" is current directory"},
                                   {"CWD .", kDenied}, {"CWD ..", kCwdOk}, {"PWD", atRoot},
                                   {"CWD 3/sub", kCwdOk}, {"PWD", atRoot},
                                   {"CWD 3/missing", kDenied}, {"CWD 3/../../..", kDenied},
                                   {"CDUP", kDenied}}),
            "");
  // No upload or delete takes the name of a folder, the destination's own
  // included, nor that of a link to one: refused before any data.
  for (const char* folder : {"3/", "/3/", "3/sub", "3/linked"}) {
    EXPECT_EQ(Store(*client, folder, "x"), kDenied) << folder;
  }
  EXPECT_EQ(client->Command("CWD 3"), kCwdOk);
  EXPECT_EQ(Store(*client, "", "x"), kDenied);
  EXPECT_EQ(client->Command("DELE sub"), kDenied);
  EXPECT_EQ(Store(*client, "ok.pdf", GoodPdf()), kStored);
  Quit(*client);
  EXPECT_EQ(FolderNames(folder_[3]), (std::vector<std::string>{"linked", "ok.pdf", "sub"}));
}

TEST_F(ScannerSessionTest, SeriesKeepsOneStemAndOneLogEntry) {
  Start("OverWrite=0\n");
  std::ofstream(folder_[3] + "/scan_000.pdf") << "older";
  auto client = WithCode("", 0);
  EXPECT_EQ(client->Command("CWD 3"), kCwdOk);
  EXPECT_EQ(Store(*client, "scan_000.pdf", GoodPdf()), kStored);
  EXPECT_EQ(Store(*client, "scan_001.pdf", GoodPdf()), kStored);
  Quit(*client);
  EXPECT_EQ(FolderNames(folder_[3]), (std::vector<std::string>{"scan(1)_000.pdf", "scan(1)_002.pdf", "scan_000.pdf"}));
  EXPECT_EQ(ReadWholeFile(folder_[3] + "/scan_000.pdf"), "older");
  EXPECT_EQ(ReadWholeFile(folder_[3] + "/scan(1)_002.pdf"), GoodPdf());
  const std::string log = ReceiveLog();
  EXPECT_NE(log.find(";scanner;scan(1)_000.pdf;2;" + folder_[3] + "\n"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  EXPECT_EQ(NameReservations::Instance().Count(), 0u);
  EXPECT_EQ(LeftoverFiles(), 0);
  // Announced: the configuration program's notice and the user's signal.
  std::lock_guard<std::mutex> lock(seen_.mutex);
  ASSERT_EQ(seen_.notices.size(), 1u);
  EXPECT_EQ(seen_.notices[0], (std::pair<uint32_t, int64_t>{WM_USER + 1, 3}));
  EXPECT_EQ(seen_.signals.load(), 1);
  EXPECT_FALSE(seen_.tray.empty());
  EXPECT_EQ(seen_.tray.back(), 1);
  EXPECT_EQ(seen_.states.front(), kFtpStateBusy);
  EXPECT_EQ(seen_.states.back(), kFtpStateIdle);
}

TEST_F(ScannerSessionTest, PlainNamesNeverReplaceUnlessOverWriteIsOnAndEachFileLandsOnItsOwn) {
  Start("OverWrite=0\n");
  std::ofstream(folder_[1] + "/a.pdf") << "old a";
  std::ofstream(folder_[1] + "/b.pdf") << "old b";
  auto client = WithCode("");
  EXPECT_EQ(Store(*client, "1/a.pdf", GoodPdf()), kStored);
  EXPECT_EQ(Store(*client, "1/b.pdf", GoodPdf()), kStored);
  Quit(*client);
  EXPECT_EQ(FolderNames(folder_[1]),
            (std::vector<std::string>{"a(1).pdf", "a.pdf", "b(1).pdf", "b.pdf"}));
  EXPECT_EQ(ReadWholeFile(folder_[1] + "/b.pdf"), "old b");

  root_.WriteSettings("[MANAGEMENT]\nFTP_Support=1\nFTPS_Support=0\nOverWrite=1\n");
  SetTraceMode(2);
  auto replacing = WithCode("");
  for (const char* name : {"1/b.pdf", "1/x.pdf", "1/y.pdf"}) {
    EXPECT_EQ(Store(*replacing, name, GoodPdf()), kStored);
  }
  // A folder appears where one file's name is (files are saved at QUIT):
  // that file cannot land, the others must, and the client must not take
  // the session as delivered.
  fs::create_directories(folder_[1] + "/x.pdf/inside");
  EXPECT_EQ(replacing->Command("QUIT"), "451 Requested action aborted: local error in processing.");
  WaitForSessionsToEnd();
  SetTraceMode(0);
  EXPECT_EQ(ReadWholeFile(folder_[1] + "/b.pdf"), GoodPdf());
  EXPECT_EQ(ReadWholeFile(folder_[1] + "/y.pdf"), GoodPdf());
  EXPECT_NE(ReceiveLog().find(";2;" + folder_[1] + "\n"), std::string::npos) << ReceiveLog();
  const std::string trace = ReadWholeFile(root_.path() + "/tmp/qbxLog.log");
  EXPECT_NE(trace.find("x.pdf not stored"), std::string::npos) << trace;
}

TEST_F(ScannerSessionTest, NothingIsSavedWithoutQuitOrAfterDele) {
  Start();
  auto dropped = WithCode("");
  EXPECT_EQ(Store(*dropped, "1/a.pdf", GoodPdf()), kStored);
  dropped->Close();
  auto deleted = WithCode("");
  EXPECT_EQ(Store(*deleted, "1/b.pdf", GoodPdf()), kStored);
  EXPECT_EQ(deleted->Command("DELE b.pdf"), "250 DELE command successful.");
  Quit(*deleted);
  WaitForSessionsToEnd();
  EXPECT_TRUE(FolderNames(folder_[1]).empty());
  EXPECT_EQ(ReceiveLog(), "");
  EXPECT_EQ(LeftoverFiles(), 0);
}

TEST_F(ScannerSessionTest, TypeChecksAndDotFiles) {
  Start("FileTypeCheck=1\n");
  auto client = WithCode("");
  EXPECT_EQ(client->Command("CWD 1"), kCwdOk);
  EXPECT_EQ(Store(*client, ".probe", "x"), kStored);
  EXPECT_EQ(LeftoverFiles(), 0);  // dropped at once
  const std::pair<const char*, std::string> uploads[] = {
      {"notes.txt", "text"},    {"scan.tiff", "II*\0"},  {"bad.pdf", "not a pdf"},
      {"photo.jpg", kGoodJpeg}, {"scan.pdf", GoodPdf()}, {"page.xps", "anything"}};
  for (const auto& [name, data] : uploads) EXPECT_EQ(Store(*client, name, data), kStored) << name;
  Quit(*client);
  EXPECT_EQ(FolderNames(folder_[1]),
            (std::vector<std::string>{"page.xps", "photo.jpg", "scan.pdf"}));

  root_.WriteSettings("[MANAGEMENT]\nFTP_Support=1\nFTPS_Support=0\nFileTypeCheck=0\n");
  auto unchecked = WithCode("");
  EXPECT_EQ(Store(*unchecked, "1/notes.txt", "text"), kStored);
  Quit(*unchecked);
  EXPECT_EQ(ReadWholeFile(folder_[1] + "/notes.txt"), "text");
}

// A meta file names the sub-folder its document goes to, and the extension
// library hears of it. Parent references are neutralised (and land in the
// folder of that name when there is one); absolute folders and links out
// are refused, so the destination folder itself takes the file.
TEST_F(ScannerSessionTest, MetaFilesPlaceTheirDocumentInsideTheDestinationAndLeaveATicket) {
  Start();
  const std::string outside = root_.path() + "/outside";
  fs::create_directories(outside);
  fs::create_directories(folder_[7] + "/Invoices");
  fs::create_directories(folder_[7] + "/xxxoutside");
  fs::create_directory_symlink(outside, folder_[7] + "/link");
  const std::pair<const char*, const char*> cases[] = {
      {"Invoices", "Invoices/"}, {"../outside", "xxxoutside/"}, {"..\\outside", "xxxoutside/"},
      {"/abs", ""},              {"\\abs", ""},                {"link", ""},
      {"link/deeper", ""},       {"link/..", ""}};
  std::string answer;
  int n = 0;
  for (const auto& [sub, where] : cases) {
    auto client = WithAnswer(0, n == 0 ? &answer : nullptr);
    const std::string stem = "7/@DBA@x#" + std::to_string(n) + "#doc" + std::to_string(n);
    EXPECT_EQ(Store(*client, stem + ".meta", AttributeRecord(sub)), kStored);
    EXPECT_EQ(server_->MetaEntryCount(), 1u);
    EXPECT_EQ(Store(*client, stem + ".pdf", GoodPdf()), kStored);
    Quit(*client);
    EXPECT_EQ(server_->MetaEntryCount(), 0u);
    const std::string landed = folder_[7] + "/" + where + "doc" + std::to_string(n) + ".pdf";
    EXPECT_EQ(ReadWholeFile(landed), GoodPdf()) << sub;
    ++n;
  }
  const std::string calls = ReadWholeFile(root_.path() + "/extension.log");
  EXPECT_NE(calls.find("files=1\tpath=" + folder_[7] +
                       "/Invoices/doc0.pdf\tsender=scanner\tdestination=7\tmeta=yes"),
            std::string::npos)
      << calls;
  // A sub-folder that does not exist is not made: that file is not stored,
  // and the client hears so at QUIT.
  auto client = WithAnswer();
  EXPECT_EQ(Store(*client, "7/@DBA@y#0#lost.meta", AttributeRecord("a/../../outside")),
            kStored);
  EXPECT_EQ(Store(*client, "7/@DBA@y#0#lost.pdf", GoodPdf()), kStored);
  EXPECT_EQ(client->Command("QUIT"), "451 Requested action aborted: local error in processing.");
  WaitForSessionsToEnd();
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(root_.path() + "/srv/outside"));
  EXPECT_FALSE(fs::exists("/abs"));
  EXPECT_EQ(LeftoverFiles(), 0);

  // A session's answer is a ticket for one later login.
  for (const char* reply : {"230 User scanner logged in.", "530 Login incorrect."}) {
    auto withTicket = Connect();
    Greet(*withTicket);
    EXPECT_EQ(withTicket->Command("PASS " + answer), reply);
    if (reply[0] == '2') {
      EXPECT_EQ(withTicket->Command("CWD 6"), kCwdOk);  // as by a challenge
    }
  }
}

TEST_F(ScannerSessionTest, FullDiskWhileReceivingLeavesNoPartialFile) {
  Start();
  auto client = WithCode("");
  // The upload goes straight into its staging file: a write that fails
  // fails the transfer and leaves no trace of the file.
  env_->FailWrite(1);
  EXPECT_EQ(Store(*client, "1/big.pdf", GoodPdf()), "426 Transfer abort.");
  Quit(*client);
  EXPECT_TRUE(FolderNames(folder_[1]).empty());
  EXPECT_EQ(LeftoverFiles(), 0);

  // Too little room: STOR is refused and the tray shows the full disk.
  env_->SetFreeBytes(1000);
  auto refused = WithCode("");
  EXPECT_EQ(Store(*refused, "1/x.pdf", GoodPdf()), "451 STOR error.");
  std::lock_guard<std::mutex> lock(seen_.mutex);
  EXPECT_EQ(seen_.tray.back(), 3);
}

TEST_F(ScannerSessionTest, MetaDataBudgetKeepsEachAddressShareAndExpires) {
  Start();
  auto entry = [](uint32_t address, char tag) {
    auto made = std::make_unique<FtpMetaEntry>();
    made->data.assign(kMaxMetaFileBytes, static_cast<uint8_t>(tag));
    made->path = std::string("/d/@DBA@1#2#") + tag + ".meta";
    made->address = address;
    return made;
  };
  // One address past its share pushes out only its own oldest.
  const int share = static_cast<int>(kMetaBytesPerAddress / kMaxMetaFileBytes);
  for (int i = 0; i < share + 3; ++i) EXPECT_TRUE(server_->AddMetaEntry(entry(1, 'a')));
  EXPECT_EQ(server_->MetaEntryCount(), static_cast<size_t>(share));
  // Three more addresses fill the whole budget; beyond it a file is refused.
  for (uint32_t address = 2; address <= 4; ++address) {
    for (int i = 0; i < share; ++i) EXPECT_TRUE(server_->AddMetaEntry(entry(address, 'b')));
  }
  EXPECT_FALSE(server_->AddMetaEntry(entry(5, 'c')));
  EXPECT_EQ(server_->MetaEntryCount(), kMetaBudgetBytes / kMaxMetaFileBytes);
  // Unpaired entries and tickets go after half an hour.
  server_->AddTicket("0123456789ABCDEF0123456789ABCDEF01234567");
  env_->AdvanceSeconds(kMetaKeepSeconds);
  EXPECT_TRUE(server_->AddMetaEntry(entry(5, 'c')));
  EXPECT_EQ(server_->MetaEntryCount(), 1u);
  EXPECT_EQ(server_->TicketCount(), 0u);
}

TEST_F(ScannerSessionTest, AWrongAccessCodeCountsAtPassAndManyFailuresSlowPass) {
  Start();
  // A destination without a code opens to any code: only coded ones here.
  std::ofstream(root_.DataDir() + "/tvscan_f.bin") << "5;" << folder_[5] << ";Five;1234;\n";
  auto right = WithCode("1234");
  EXPECT_EQ(server_->FailedLoginCount(), 0u);
  Quit(*right);
  auto wrong = WithCode("9999");
  EXPECT_EQ(server_->FailedLoginCount(), 1u);
  Quit(*wrong);
  for (uint32_t i = 0; i < kGlobalFailureLimit; ++i) server_->RecordLoginFailure(0x0A000000 + i);
  EXPECT_TRUE(server_->PassThrottled());
  // Every PASS is slowed then, but the right code still opens its destination.
  const auto started = std::chrono::steady_clock::now();
  auto slowed = WithCode("1234", kLoopback + 20);
  EXPECT_GE(ElapsedMs(started), kThrottledPassWaitMs - 50);
  EXPECT_EQ(slowed->Command("CWD 5"), kCwdOk);
  Quit(*slowed);
  env_->AdvanceSeconds(kGlobalFailureWindowSeconds);
  EXPECT_FALSE(server_->PassThrottled());
}

// A power loss at every step of an upload and its QUIT. A client that has
// heard 226 and 221 finds its file whole under its name after the loss;
// whatever the client heard, a file under a final name is never partial,
// and no receive-log line names a file that is not there.
TEST_F(ScannerSessionTest, PowerLossAtAnyStepNeverTakesAnAcknowledgedUpload) {
  Start();
  const std::string data = GoodPdf();
  int acknowledged = 0;
  int64_t opsOfAWholeUpload = -1;
  for (int crashAfter = 0; opsOfAWholeUpload < 0 || crashAfter <= opsOfAWholeUpload; ++crashAfter) {
    const int64_t opsBefore = env_->FileOpCount();
    env_->CrashAfterFileOps(crashAfter);
    // Logins a dead receiver refused count as failures: they are forgotten.
    env_->AdvanceSeconds(kLoginFailureSeconds);
    // A receiver that can no longer read its files may not even greet.
    auto client = Connect();
    const bool loggedIn = client->Reply() == kGreeting &&
                          client->Command("USER scanner").rfind("331 ", 0) == 0 &&
                          client->Command("PASS ").rfind("230 ", 0) == 0;
    const bool stored = loggedIn && Store(*client, "1/doc.pdf", data) == kStored;
    const bool quit = loggedIn && client->Command("QUIT") == "221 Goodbye.";
    client.reset();
    WaitForSessionsToEnd();
    env_->SimulateCrash();

    size_t visible = 0;
    for (const std::string& name : FolderNames(folder_[1])) {
      if (name[0] == '.') continue;
      ++visible;
      EXPECT_EQ(ReadWholeFile(folder_[1] + "/" + name), data) << "after " << crashAfter << " operations";
    }
    if (stored && quit) {
      ++acknowledged;
      EXPECT_EQ(visible, 1u) << "an acknowledged upload lost after " << crashAfter << " operations";
      if (opsOfAWholeUpload < 0) opsOfAWholeUpload = env_->FileOpCount() - opsBefore;
    }
    for (const std::string& line : Lines(ReceiveLog())) {
      // "date time *;scanner;name;count;folder"
      const size_t nameAt = line.find(';', line.find(';') + 1);
      if (nameAt == std::string::npos) continue;
      const std::string name = line.substr(nameAt + 1, line.find(';', nameAt + 1) - nameAt - 1);
      EXPECT_TRUE(fs::exists(folder_[1] + "/" + name)) << "logged but lost: " << line;
    }
    for (const std::string& name : FolderNames(folder_[1])) fs::remove(folder_[1] + "/" + name);
    fs::remove(root_.DataDir() + "/tvscanlog_f.bin");
  }
  EXPECT_GT(opsOfAWholeUpload, 3);
  EXPECT_GE(acknowledged, 1);
}

}  // namespace
}  // namespace qb::test
