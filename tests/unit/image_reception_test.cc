// Image reception and document completion through the real server: the
// printer's messages go over loopback, the files are checked on disk.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <utility>

#include "imaging/fax_coder.h"
#include "imaging/image_header.h"
#include "imaging/page_files.h"
#include "platform/files.h"
#include "platform/process_stats.h"
#include "reception_fixture.h"
#include "scanproto/access_lock.h"
#include "scanproto/received_header.h"
#include "storage/name_reservations.h"

namespace qb::test {
namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kChecksumOk = ThreeWords(0x3015, 1, 0);
const std::string kDataEndRes = ThreeWords(0x3013, 1, 0);

// A little-endian TIFF the format check accepts (XResolution 200/1),
// padded with `extra` bytes of a pattern so that it spans packets.
std::string SmallTiff(size_t extra) {
  std::string tiff("II*\0\x08\0\0\0", 8);
  tiff += std::string("\x01\0\x1A\x01\x05\0\x01\0\0\0\x1A\0\0\0", 14);  // one entry at 8
  tiff += std::string(4, '\0');                                         // no next directory
  tiff += std::string("\xC8\0\0\0\x01\0\0\0", 8);                       // 200 / 1 at 26
  for (size_t i = 0; i < extra; ++i) tiff += static_cast<char>((i * 7 + 3) & 0xFF);
  return tiff;
}

uint16_t ByteSum(const std::string& data) {
  return static_cast<uint16_t>(std::accumulate(data.begin(), data.end(), 0, [](int sum, char c) {
    return sum + static_cast<unsigned char>(c);
  }));
}

// Rows of a page as the printer sends them: MSB first, a diagonal band.
std::string RawPage(uint16_t width, uint16_t height, int seed) {
  std::string page;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width / 8; ++x) {
      page += static_cast<char>(((x + y / 4 + seed) % 5 == 0) ? 0xF0 : (y % 9 == 0 ? 0x81 : 0));
    }
  }
  return page;
}

// What the coder makes of the same pages: the strips the TIFF must carry.
std::vector<std::string> CodedStrips(const PageHeaderFields& fields,
                                     const std::vector<std::string>& pages,
                                     int codingMode = kFaxModeMMR) {
  std::vector<std::string> strips;
  for (const std::string& page : pages) {
    Document doc(Env::Default());
    ImageHeader header;
    std::string body = ImageHeaderBody(fields);
    ParseImageHeader(reinterpret_cast<const uint8_t*>(body.data()), body.size(), &header);
    EXPECT_TRUE(doc.coder.SetUp(header.layout));
    doc.coder.SetCodingMode(codingMode);
    PageFile out = PageFile::InMemory(&strips.emplace_back());
    doc.coder.WriteInto(&out);
    const size_t bytes = fields.width / 8;
    for (size_t at = 0; at + bytes <= page.size(); at += bytes) {
      std::memcpy(doc.lineBuf, page.data() + at, bytes);
      doc.coder.CodeLine(doc.lineBuf);
    }
    doc.coder.FinishPage();
  }
  return strips;
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = value << 8 | static_cast<unsigned char>(s[at + i]);
  return value;
}

// The strips of every page of one of our TIFFs (StripOffsets is entry 7,
// StripByteCounts entry 11 of each 17-entry directory).
std::vector<std::string> TiffStrips(const std::string& tiff) {
  std::vector<std::string> strips;
  for (uint32_t dir = Le32(tiff, 4); dir != 0 && dir + 210 <= tiff.size() && strips.size() < 50;
       dir = Le32(tiff, dir + 2 + 17 * 12)) {
    const uint32_t offset = Le32(tiff, dir + 2 + 7 * 12 + 8);
    const uint32_t count = Le32(tiff, dir + 2 + 11 * 12 + 8);
    strips.push_back(tiff.substr(offset, count));
  }
  return strips;
}

class ImageReceptionTest : public ReceptionTest {
 protected:
  // One page of the file road: header, data, page end.
  void SendFile(const std::string& name, const std::string& data, uint16_t form = 1) {
    PageHeaderFields fields;
    fields.dataForm = form;
    fields.documentName = name;
    SendBody(ImageHeaderBody(fields));
    SendData(data, 4000);
    SendBody(Body2(0x3002, 0));
  }
  // Odd packet sizes by default: lines straddle packets.
  void SendRawPage(const PageHeaderFields& fields, const std::string& page, size_t chunk = 3001) {
    SendBody(ImageHeaderBody(fields));
    SendData(page, chunk);
    SendBody(Body2(0x3002, 0));
  }
  // A raw page of the diagonal pattern `seed`; the rows it sent.
  std::string SendPattern(int seed, const char* format = "TIFF-G4MMR", uint16_t continuation = 0) {
    const PageHeaderFields fields = RawFields(format, continuation);
    std::string page = RawPage(fields.width, fields.height, seed);
    SendRawPage(fields, page);
    return page;
  }
  void SendChecksum(uint16_t sum) {
    SendBody(Body2(0x3005, sum));
    EXPECT_EQ(Receive(8), kChecksumOk);
  }
  // A whole one-file document: the file, its checksum, the end of data.
  void StoreFile(const std::string& name, const std::string& data) {
    SendFile(name, data);
    EndDocument(ByteSum(data));
  }
  // The checksum of the files sent, the end of data, and both answers.
  void EndDocument(uint16_t sum) {
    SendBody(Body2(0x3005, sum));
    SendBody(Body2(0x3003, 0));
    EXPECT_EQ(Receive(16), kChecksumOk + kDataEndRes);
  }
  void EndData() {
    SendBody(Body2(0x3003, 0));
    EXPECT_EQ(Receive(8), kDataEndRes);
  }
  // The printer hangs up; its connection is gone soon after.
  void HangUp() {
    CloseClient(fd_);
    fd_ = -1;
    ExpectConnectionGone();
  }
  void ExpectConnectionGone() {
    for (int i = 0; i < 20 && server_->FirstJob() != nullptr; ++i) Pump(1);
    EXPECT_EQ(server_->FirstJob(), nullptr);
  }
  // Page data framed in odd packet sizes: lines straddle packets.
  static std::string Frames(const std::string& page) {
    std::string framed;
    for (size_t at = 0; at < page.size(); at += 3001) framed += Frame(page.substr(at, 3001));
    return framed;
  }
  std::vector<std::string> StoredStrips(const std::string& name) const {
    return TiffStrips(ReadWholeFile(dest_ + "/" + name));
  }
  PageHeaderFields RawFields(const char* format, uint16_t continuation = 0) {
    PageHeaderFields fields;
    fields.dataForm = 0;
    fields.documentName = "raw";
    fields.formatName = format;
    fields.width = 1728;
    fields.height = 300;
    fields.continuation = continuation;
    return fields;
  }
};

TEST_F(ImageReceptionTest, FileRoadStoresLogsAndAnnouncesTheDocument) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(9000);
  SendFile("scan.tif", tiff);
  SendChecksum(ByteSum(tiff));
  EndData();

  EXPECT_EQ(DestinationFiles(), Names{"scan.tif"});
  EXPECT_EQ(ReadWholeFile(dest_ + "/scan.tif"), tiff);
  EXPECT_NE(ReadLog().find(";scan.tif;1;" + dest_ + "\n"), std::string::npos) << ReadLog();
  EXPECT_EQ(newFileNotices_, 1);
  EXPECT_EQ(TrayCount(1) + TrayCount(2), 1);
  EXPECT_EQ(job_->document.outputPath[0], '\0');
  EXPECT_EQ(job_->document.pageCount, 0);
}

TEST_F(ImageReceptionTest, WithoutOverWriteACollisionGetsAMarkedName) {
  std::ofstream(dest_ + "/scan.tif") << "older";
  root_.WriteSettings("[MANAGEMENT]\nOverWrite=0\n");
  ConnectPrinter();
  const std::string tiff = SmallTiff(50);
  StoreFile("scan.tif", tiff);
  EXPECT_EQ(DestinationFiles(), (Names{"scan(1).tif", "scan.tif"}));
  EXPECT_EQ(ReadWholeFile(dest_ + "/scan.tif"), "older");  // OverWrite=1 replaces: see PageDelete
}

TEST_F(ImageReceptionTest, ChecksumMismatchAndMissingChecksumStoreNothing) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(500);
  SendFile("scan.tif", tiff);
  SendBody(Body2(0x3005, static_cast<uint16_t>(ByteSum(tiff) + 1)));
  EXPECT_EQ(Receive(8), ThreeWords(0x3015, 0, 0x3E05));
  EXPECT_EQ(DestinationFiles(), Names{});
  // No confirmed sum: the end of data refuses, and the printer is locked.
  EndData();
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_EQ(ReadLog(), "");
  EXPECT_TRUE(IsLocked("127.0.0.2", env_.WallSeconds()));
  EXPECT_EQ(newFileNotices_, 0);
}

TEST_F(ImageReceptionTest, WrongExtensionOrFailedFormatCheckIsCancelled) {
  ConnectPrinter();
  SendFile("scan.pdf", SmallTiff(100), 1);  // a TIFF form named .pdf
  EXPECT_EQ(Receive(6), PcCancel());
  EndData();
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_TRUE(IsLocked("127.0.0.2", env_.WallSeconds()));
}

TEST_F(ImageReceptionTest, JpegThatFailsItsCheckIsRemovedAtPageEnd) {
  ConnectPrinter();
  SendFile("photo.jpg", std::string(3000, 'x'), 4);
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_TRUE(job_->document.discarding);
}

// A continued page joins the file of the page before; the PDF formats
// make PDF files.
TEST_F(ImageReceptionTest, RawMmrPagesBecomeOneTiffOrPdfWithTheCodedStrips) {
  for (const bool pdf : {false, true}) {
    SCOPED_TRACE(pdf ? "PDF" : "TIFF");
    ConnectPrinter().document.checksumOk = true;
    const char* format = pdf ? "PDF-G4MMR" : "TIFF-G4MMR";
    const std::string name = pdf ? "raw0007_000.pdf" : "raw0007_000.tif";
    const std::string page1 = SendPattern(0, format);
    const std::string page2 = SendPattern(3, format, 1);
    EndData();
    ASSERT_EQ(DestinationFiles(), Names{name});
    EXPECT_EQ(TempFiles(), Names{});
    EXPECT_NE(ReadLog().find(";" + name + ";1;" + dest_), std::string::npos);
    const std::string file = ReadWholeFile(dest_ + "/" + name);
    std::filesystem::remove(dest_ + "/" + name);
    HangUp();
    if (pdf) {
      EXPECT_EQ(file.substr(0, 7), "%PDF-1.");
      continue;
    }
    EXPECT_TRUE(TiffStrips(file) == CodedStrips(RawFields(format), {page1, page2}));
  }
}

TEST_F(ImageReceptionTest, RawMhPagesOfOwnHeadersBecomeOneFileEach) {
  ConnectPrinter().document.checksumOk = true;
  PageHeaderFields fields = RawFields("TIFF-G3MH");
  fields.packing = 3;  // words arrive byte-swapped, first pixel in bit 7
  const std::string page = RawPage(fields.width, fields.height, 1);
  std::string swapped = page;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  // Swapping works on the words of each packet, so packets are even.
  SendRawPage(fields, swapped, 3000);
  SendRawPage(fields, swapped, 3000);
  EndData();
  ASSERT_EQ(DestinationFiles(), (Names{"raw0007_001.tif", "raw0007_002.tif"}));
  PageHeaderFields plain = fields;
  plain.packing = 1;
  EXPECT_TRUE(StoredStrips("raw0007_002.tif") == CodedStrips(plain, {page}, kFaxModeMH));
  // One file per page: the log names the first file and counts both.
  EXPECT_NE(ReadLog().find(";raw0007_001.tif;2;"), std::string::npos);
  EXPECT_EQ(TempFiles(), Names{});
}

TEST_F(ImageReceptionTest, RawDataBeyondTheAnnouncedHeightIsNotCoded) {
  ConnectPrinter().document.checksumOk = true;
  PageHeaderFields fields = RawFields("TIFF-G4MMR");
  fields.height = 40;
  const std::string page = RawPage(fields.width, 40, 5);
  SendRawPage(fields, page + RawPage(fields.width, 200, 9));
  EndData();
  EXPECT_TRUE(StoredStrips("raw0007_000.tif") == CodedStrips(fields, {page}));
}

// A page delete removes the finished pages' temporary files and nothing
// else: the count stays, so a raw document missing its pages fails, and on
// the file road the next file is a further file, not a new first one.
TEST_F(ImageReceptionTest, PageDeleteRemovesOnlyTheFinishedTemporaryPages) {
  ConnectPrinter().document.checksumOk = true;
  SendPattern(0);
  SendBody(Body2(0x3004, 0));
  EXPECT_EQ(TempFiles(), Names{});
  EXPECT_EQ(job_->document.pageCount, 1);
  SendPattern(1);
  SendBody(Body2(0x3003, 0));
  EXPECT_EQ(Receive(14), PcCancel() + kDataEndRes);
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_EQ(TempFiles(), Names{});
  HangUp();

  std::ofstream(dest_ + "/note.tif") << "older";
  root_.WriteSettings("[MANAGEMENT]\nOverWrite=1\n");
  ConnectPrinter();
  const std::string a = SmallTiff(10), b = SmallTiff(20);
  SendFile("note.tif", a);
  SendBody(Body2(0x3004, 0));
  SendFile("note.tif", b);
  EndDocument(static_cast<uint16_t>(ByteSum(a) + ByteSum(b)));
  EXPECT_EQ(DestinationFiles(), (Names{"note.tif", "note_002.tif"}));
  EXPECT_EQ(ReadWholeFile(dest_ + "/note.tif"), a);
  EXPECT_EQ(ReadWholeFile(dest_ + "/note_002.tif"), b);
}

TEST_F(ImageReceptionTest, MessagesOutOfOrderStoreNothingAndReadNothingStray) {
  ConnectPrinter().document.checksumOk = true;
  SendBody(Body2(0x3002, 0));  // page end without a header
  SendBody(Body2(0x3002, 0));  // and twice
  SendBody(Body2(0x3003, 0));  // data end before any header: nothing to assemble
  EXPECT_EQ(Receive(14), PcCancel() + kDataEndRes);
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_EQ(TempFiles(), Names{});
  // A checksum too short to carry its sum reads it as the zero-filled
  // buffer holds it (0x0100 here), and is answered.
  SendBody(std::string("\x30\x05", 2) + "\x01");
  EXPECT_EQ(ReceiveAll(), ThreeWords(0x3015, 0, 0x3E05));
}

// A data end of three bytes reads its status as the zero-filled buffer
// holds it: 0x00 then 0 is "complete".
TEST_F(ImageReceptionTest, ShortDataEndReadsItsStatusLikeTheBufferHoldsIt) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(300);
  SendFile("short.tif", tiff);
  SendBody(Body2(0x3005, ByteSum(tiff)));
  SendBody(std::string("\x30\x03\x00", 3));
  EXPECT_EQ(Receive(16), kChecksumOk + kDataEndRes);
  EXPECT_EQ(DestinationFiles(), Names{"short.tif"});
  EXPECT_NE(ReadLog().find(";short.tif;1;"), std::string::npos);
}

// No file of a document replaces another file: a name without page digits
// numbers the further files, and a name that someone took while the
// document was arriving moves on to the next free one.
TEST_F(ImageReceptionTest, FurtherFilesNeverReplaceAFile) {
  root_.WriteSettings("[MANAGEMENT]\nOverWrite=0\n");
  ConnectPrinter();
  const std::string a = SmallTiff(10), b = SmallTiff(20), c = SmallTiff(30);
  SendFile("page1.tif", a);
  SendFile("page1.tif", b);
  std::ofstream(dest_ + "/page1_003.tif") << "the user's";
  SendFile("page1.tif", c);
  EndDocument(static_cast<uint16_t>(ByteSum(a) + ByteSum(b) + ByteSum(c)));
  EXPECT_EQ(DestinationFiles(),
            (Names{"page1(1)_003.tif", "page1.tif", "page1_002.tif", "page1_003.tif"}));
  EXPECT_EQ(ReadWholeFile(dest_ + "/page1.tif"), a);
  EXPECT_EQ(ReadWholeFile(dest_ + "/page1_002.tif"), b);
  EXPECT_EQ(ReadWholeFile(dest_ + "/page1_003.tif"), "the user's");
  EXPECT_EQ(ReadWholeFile(dest_ + "/page1(1)_003.tif"), c);
  HangUp();

  // With the job's file name every file is numbered, keeping the case of
  // its extension: the first moves from _000 to _001 when the second
  // arrives, and that renumbering does not replace a file either.
  std::strcpy(ConnectPrinter().document.fileName, "Inv");
  SendFile("p.TIF", a);
  std::ofstream(dest_ + "/Inv_001.TIF") << "another";
  SendFile("p.TIF", b);
  SendFile("p.TIF", c);
  EndDocument(static_cast<uint16_t>(ByteSum(a) + ByteSum(b) + ByteSum(c)));
  EXPECT_EQ(ReadWholeFile(dest_ + "/Inv_001.TIF"), "another");
  EXPECT_EQ(ReadWholeFile(dest_ + "/Inv(1)_001.TIF"), a);
  EXPECT_EQ(ReadWholeFile(dest_ + "/Inv_002.TIF"), b);
  EXPECT_EQ(ReadWholeFile(dest_ + "/Inv_003.TIF"), c);
  EXPECT_NE(ReadLog().find(";Inv(1)_001.TIF;3;"), std::string::npos);
}

// A dropped document leaves its reserved name free again: the next printer
// gets the plain name, not "(1)".
TEST_F(ImageReceptionTest, DroppedDocumentsDoNotKeepTheirNames) {
  root_.WriteSettings("[MANAGEMENT]\nOverWrite=0\n");
  for (int round = 0; round < 3; ++round) {
    ConnectPrinter();
    SendBody(ImageHeaderBody(PageHeaderFields{}));
    HangUp();
  }
  EXPECT_EQ(NameReservations::Instance().Count(), 0u);
  ConnectPrinter();
  const std::string tiff = SmallTiff(40);
  StoreFile("scan.tif", tiff);
  EXPECT_EQ(DestinationFiles(), Names{"scan.tif"});
}

// A deferred job is logged and announced when its connection ends, at a
// hang-up or at the receiver's stop, which never removes a document the
// printer was told is stored: only the unfinished document behind it goes.
TEST_F(ImageReceptionTest, DeferredJobsAreLoggedAtTheEndAndStoppingKeepsThem) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "hang-up");
    ConnectPrinter().deferredNotify = true;  // no checksum needed either
    SendPattern(0);
    EndData();
    EXPECT_TRUE(job_->notifyPending);
    EXPECT_EQ(ReadLog(), "");
    SendBody(ImageHeaderBody(PageHeaderFields{}));  // a second document, never finished
    SendData(SmallTiff(3000));
    stop ? server_->Stop() : HangUp();
    EXPECT_EQ(DestinationFiles(), Names{"raw0007_000.tif"});
    EXPECT_EQ(fs::status(dest_ + "/raw0007_000.tif").permissions() & fs::perms::all,
              fs::perms(0660));
    EXPECT_NE(ReadLog().find(";raw0007_000.tif;1;"), std::string::npos);
    EXPECT_EQ(TempFiles(), Names{});
    fs::remove(dest_ + "/raw0007_000.tif");
    fs::remove(root_.DataDir() + "/tvscanlog_f.bin");
  }
}

// A reply that cannot be sent ends the connection, but only once the
// handler is done with it: a cancel that fails half-way through an image
// header leaves no open file, no file and no reserved name behind.
TEST_F(ImageReceptionTest, FailedCancelLeavesNothingBehind) {
  root_.WriteSettings("[MANAGEMENT]\nOverWrite=0\n");
  ConnectPrinter();
  const int descriptors = CountOpenDescriptors();
  env_.FailSend(job_->socket, 1);
  PageHeaderFields misnamed;  // a TIFF form named .pdf: cancelled
  misnamed.documentName = "scan.pdf";
  SendBody(ImageHeaderBody(misnamed));
  env_.FailSend(-1, 0);
  ExpectConnectionGone();
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_EQ(NameReservations::Instance().Count(), 0u);
  EXPECT_LT(CountOpenDescriptors(), descriptors);  // the connection's socket went too
}

// A document stored before its answer could be sent stays stored and
// logged: the extension library and the log see files that exist.
TEST_F(ImageReceptionTest, FailedDataEndAnswerKeepsTheStoredDocument) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(700);
  SendFile("kept.tif", tiff);
  SendChecksum(ByteSum(tiff));
  env_.FailSend(job_->socket, 1);
  SendBody(Body2(0x3003, 0));
  env_.FailSend(-1, 0);
  ExpectConnectionGone();
  EXPECT_EQ(DestinationFiles(), Names{"kept.tif"});
  EXPECT_EQ(ReadWholeFile(dest_ + "/kept.tif"), tiff);
  EXPECT_NE(ReadLog().find(";kept.tif;1;"), std::string::npos);
}

// A connection that ends half-way through a page, raw (after a finished
// one) or whole file, takes its page files with it, open or not. Until its
// end of data a document shows under no real name.
TEST_F(ImageReceptionTest, ConnectionEndingMidPageLeavesNoFileOpenOrBehind) {
  for (const bool raw : {true, false}) {
    SCOPED_TRACE(raw ? "raw page" : "file");
    const int descriptors = CountOpenDescriptors();
    ConnectPrinter();
    if (raw) SendPattern(0);
    SendBody(ImageHeaderBody(raw ? RawFields("TIFF-G4MMR") : PageHeaderFields{}));
    SendData(raw ? RawPage(1728, 100, 0) : SmallTiff(5000));
    EXPECT_EQ(CountOpenDescriptors(), descriptors + 3);  // both socket ends and the page file
    const Names pending = raw ? TempFiles() : DestinationFiles();
    ASSERT_EQ(pending.size(), raw ? 2u : 1u);
    if (!raw) {
      EXPECT_EQ(pending[0].rfind(".qbx-", 0), 0u);
    }
    HangUp();
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_EQ(TempFiles(), Names{});
    EXPECT_EQ(DestinationFiles(), Names{});
  }
}

TEST_F(ImageReceptionTest, BrokenHeaderDropsTheDataWithoutCancel) {
  ConnectPrinter();
  std::string body = ImageHeaderBody(PageHeaderFields{});
  body[35] = 85;  // document name offset beyond the record
  SendBody(body);
  SendData(SmallTiff(100));
  SendBody(Body2(0x3002, 0));
  EndData();
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_TRUE(IsLocked("127.0.0.2", env_.WallSeconds()));
}

TEST_F(ImageReceptionTest, LowDiskCancelsAndShowsAFullTray) {
  ConnectPrinter();
  env_.SetFreeBytes(10240000 - 1);
  SendBody(ImageHeaderBody(PageHeaderFields{}));
  EXPECT_EQ(Receive(6), PcCancel());
  EXPECT_EQ(TrayCount(3), 1);
  EXPECT_EQ(DestinationFiles(), Names{});

  // Room for the header, not for the data.
  env_.SetFreeBytes(10240000 + 3000);
  ConnectPrinter();
  SendBody(ImageHeaderBody(PageHeaderFields{}));
  SendData(SmallTiff(5000));
  EXPECT_EQ(Receive(6), PcCancel());
  EXPECT_TRUE(job_->document.discarding);
}

// The disk fills while a file is written although the free-space check
// let it start: the document ends as a dropped one, with nothing left of
// it and nothing logged.
TEST_F(ImageReceptionTest, FailedWriteDropsTheDocumentAndLeavesNothing) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(9000);
  env_.FailWrite(2);
  SendFile("scan.tif", tiff);
  EXPECT_TRUE(job_->document.discarding);
  SendBody(Body2(0x3003, 0));
  // The printer hears at once that the document is not kept.
  EXPECT_EQ(ReceiveAll(), PcCancel() + kDataEndRes);
  EXPECT_EQ(DestinationFiles(), Names{});
  EXPECT_EQ(ReadLog(), "");
  EXPECT_EQ(newFileNotices_, 0);

  // The job stays failed; the printer's next connection stores as usual.
  HangUp();
  ConnectPrinter();
  StoreFile("scan.tif", tiff);
  EXPECT_EQ(DestinationFiles(), Names{"scan.tif"});
  EXPECT_EQ(ReadWholeFile(dest_ + "/scan.tif"), tiff);
}

// With the slow steps on the worker pool, the printer still sees its
// answers in the order it asked: a message sent right behind the end of
// data is read only once the document is stored and answered.
class PooledReceptionTest : public ImageReceptionTest {
 protected:
  PooledReceptionTest() { inlineDocumentWork_ = false; }
};

TEST_F(PooledReceptionTest, AMessageBehindTheEndOfDataIsAnsweredAfterIt) {
  ConnectPrinter();
  const std::string tiff = SmallTiff(9000);
  for (int document = 1; document <= 3; ++document) {
    SendFile(std::string(1, static_cast<char>('a' + document - 1)) + ".tif", tiff);
    SendChecksum(static_cast<uint16_t>(document * ByteSum(tiff)));  // one sum per connection
    const std::string end = Be16(4) + Body2(0x3003, 0);
    const std::string capability = Be16(6) + Body2(0x3400, 1) + Be16(0);
    const std::string both = end + capability;
    ASSERT_EQ(SockSend(fd_, both.data(), both.size()), static_cast<long>(both.size()));
    EXPECT_EQ(Receive(8), kDataEndRes);
    EXPECT_EQ(ReceiveAll().substr(2, 2), std::string("\x34\x10", 2));
  }
  EXPECT_EQ(DestinationFiles(), (Names{"a.tif", "b.tif", "c.tif"}));
  EXPECT_EQ(newFileNotices_, 3);
}

// With another printer sending pages too, page data go to a worker a read
// at a time. A printer that sends a whole document in one go (pages, page
// ends, checksum, end of data) has the messages behind the page data
// handled after they are coded, in order, and its pages coded as a lone
// printer's would be.
TEST_F(PooledReceptionTest, ACrowdsPageDataAreCodedInOrderWithWhatFollows) {
  ConnectPrinter();
  const int other = OpenClient(kJobPort, "127.0.0.3");
  ASSERT_EQ(ServerTest::Receive(other, 4), std::string("OK\0\x05", 4));
  ScanJob* crowd = server_->NextJob(job_);
  ASSERT_NE(crowd, nullptr);
  crowd->imageDataMode = true;  // as if it were between its image header and page end
  crowd->document.imageHeader.dataForm = kDataFormRaw;

  std::string sent, pages[2];
  for (int page = 0; page < 2; ++page) {
    const PageHeaderFields fields = RawFields("TIFF-G4MMR", static_cast<uint16_t>(page));
    pages[page] = RawPage(fields.width, fields.height, page * 5);
    // Packets straddle reads too.
    sent += Frame(ImageHeaderBody(fields)) + Frames(pages[page]) + Frame(Body2(0x3002, 0));
  }
  job_->document.checksumOk = true;
  sent += Frame(Body2(0x3003, 0));
  ASSERT_EQ(SockSend(fd_, sent.data(), sent.size()), static_cast<long>(sent.size()));
  EXPECT_EQ(Receive(8), kDataEndRes);

  ASSERT_EQ(DestinationFiles(), Names{"raw0007_000.tif"});
  EXPECT_TRUE(StoredStrips("raw0007_000.tif") ==
              CodedStrips(RawFields("TIFF-G4MMR"), {pages[0], pages[1]}));
}

// Page data are read into a few buffers lent by the server. With every one
// of them held by work not yet done, a further printer waits unread; as
// each buffer comes back the next one reads, and no page is lost or mixed.
TEST_F(ImageReceptionTest, PrintersBeyondTheLentBuffersWaitTheirTurn) {
  std::vector<std::pair<std::function<void()>, std::function<void()>>> parked;
  StartServer([&parked](std::function<void()> work, std::function<void()> done) {
    parked.emplace_back(std::move(work), std::move(done));
  });
  constexpr int kPrinters = 6;
  const PageHeaderFields fields = RawFields("TIFF-G4MMR");
  int fds[kPrinters];
  std::string pages[kPrinters];
  for (int p = 0; p < kPrinters; ++p) {
    const std::string from = "127.0.0." + std::to_string(10 + p);
    fds[p] = OpenClient(kJobPort, from.c_str());
    ASSERT_EQ(ServerTest::Receive(fds[p], 4), std::string("OK\0\x05", 4));
  }
  for (ScanJob* job = server_->FirstJob(); job != nullptr; job = server_->NextJob(job)) {
    std::snprintf(job->document.folderPath, sizeof job->document.folderPath, "%s", dest_.c_str());
    job->document.jobNo = 10 + static_cast<int>(job->peerAddress.address & 0xFF);
    job->majorVersion = 1;
    job->document.checksumOk = true;
  }
  for (int p = 0; p < kPrinters; ++p) SendRaw(fds[p], Frame(ImageHeaderBody(fields)));
  Pump();
  for (int p = 0; p < kPrinters; ++p) {
    pages[p] = RawPage(fields.width, fields.height, p);
    SendRaw(fds[p], Frames(pages[p]) + Frame(Body2(0x3002, 0)) + Frame(Body2(0x3003, 0)));
  }
  Pump(10);
  EXPECT_EQ(parked.size(), 4u);  // one read each for four; two wait
  for (int round = 0; round < 200 && !parked.empty(); ++round) {
    auto [work, done] = std::move(parked.front());
    parked.erase(parked.begin());
    work();
    done();
    Pump(2);
  }
  for (int p = 0; p < kPrinters; ++p) {
    EXPECT_EQ(ServerTest::Receive(fds[p], 8), kDataEndRes) << "printer " << p;
    const std::string name = "raw00" + std::to_string(20 + p) + "_000.tif";
    EXPECT_TRUE(StoredStrips(name) == CodedStrips(fields, {pages[p]})) << name;
  }
}

// The step after a document's slow work may come back after its server is
// gone; it is dropped then, touching neither the server nor the job.
TEST_F(ImageReceptionTest, WorkFinishedAfterTheServerIsGoneIsDropped) {
  std::function<void()> late;
  StartServer([&late](std::function<void()> work, std::function<void()> done) {
    work();
    late = std::move(done);
  });
  ConnectPrinter();
  const std::string tiff = SmallTiff(9000);
  SendFile("scan.tif", tiff);
  SendChecksum(ByteSum(tiff));
  SendBody(Body2(0x3003, 0));
  ASSERT_TRUE(late);
  EXPECT_EQ(DestinationFiles(), Names{"scan.tif"});  // the work itself has run

  server_.reset();
  late();
  EXPECT_EQ(newFileNotices_, 0);
  EXPECT_TRUE(notices_.empty());
}

// The header of the first `size` bytes of `body` (all of them by default).
ImageHeader Parse(const std::string& body, size_t size = std::string::npos) {
  ImageHeader header;
  ParseImageHeader(reinterpret_cast<const uint8_t*>(body.data()), std::min(size, body.size()),
                   &header);
  return header;
}

TEST(ReceivedHeaderTest, EveryFieldIsTakenFromItsOffset) {
  PageHeaderFields fields;
  fields.dataForm = kDataFormRaw;
  fields.width = 4960;
  fields.height = 7016;
  fields.resolution = 0x0600;
  fields.packing = 3;
  fields.polarity = 1;
  fields.continuation = 1;
  fields.dataLength = 0x01020304;
  const ImageHeader header = Parse(ImageHeaderBody(fields));
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.dataForm, kDataFormRaw);
  EXPECT_EQ(header.dataLength, 0x01020304u);
  EXPECT_EQ(header.layout.width, 4960);
  EXPECT_EQ(header.layout.height, 7016);
  EXPECT_EQ(header.layout.resolutionCode, 0x0600);
  EXPECT_EQ(header.layout.Dpi(), 600);
  EXPECT_EQ(header.layout.pixelPacking, 3);
  EXPECT_EQ(header.layout.polarity, 1);
  EXPECT_EQ(header.continuation, 1);
  EXPECT_NE(header.formatNameOffset, 0);
  // The kept record, as a raw page file starts with it, says the same.
  const PageLayout kept = PageLayoutOfRecord(header.record);
  EXPECT_EQ(kept.width, 4960);
  EXPECT_EQ(kept.height, 7016);
  EXPECT_EQ(kept.polarity, 1);
}

TEST(ReceivedHeaderTest, StringsMustEndInsideTheReceivedBytes) {
  PageHeaderFields fields;
  fields.formatName = "TIFF-G4MMR";  // 10 characters pass
  ImageHeader header = Parse(ImageHeaderBody(fields));
  EXPECT_TRUE(header.valid);
  EXPECT_STREQ(header.formatName, "TIFF-G4MMR");
  EXPECT_STREQ(header.documentName, "scan.tif");
  EXPECT_EQ(header.dataForm, 1);

  fields.formatName = "TIFF-G4MMRX";
  EXPECT_FALSE(Parse(ImageHeaderBody(fields)).valid);

  // A document name running past byte 84 is fine while it ends in the
  // message; cut off before its NUL it is not.
  fields.formatName = "TIFF";
  fields.documentName = std::string(200, 'n');
  const std::string body = ImageHeaderBody(fields);
  EXPECT_TRUE(Parse(body).valid);
  EXPECT_FALSE(Parse(body, body.size() - 1).valid);
  EXPECT_FALSE(Parse(body, 30).valid);
  fields.documentName = std::string(256, 'n');
  EXPECT_FALSE(Parse(ImageHeaderBody(fields)).valid);
}

TEST_F(ImageReceptionTest, HeaderWithoutADestinationIsCancelledAndWritesNothing) {
  // No parameter request has found a folder for this job: nothing may be
  // written, least of all at the top of the file system.
  ConnectPrinter().document.folderPath[0] = '\0';
  const std::string name = "qb-no-destination-" + std::to_string(CurrentProcessId()) + ".tif";
  SendFile(name, SmallTiff(100));
  EXPECT_EQ(Receive(6), PcCancel());
  EndData();
  const bool written = std::filesystem::exists("/" + name);
  std::filesystem::remove("/" + name);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadLog(), "");
}

TEST_F(ImageReceptionTest, RawPageReplacedByAFileLeavesNoTemporaryFile) {
  // A raw page is begun, then a file-road header takes its place: the
  // raw page's temporary file still goes with the connection.
  ConnectPrinter();
  SendBody(ImageHeaderBody(RawFields("TIFF-G4MMR")));
  SendData(std::string(216 * 10, '\0'));
  EXPECT_EQ(TempFiles().size(), 1u);
  SendBody(Body2(0x3004, 1));  // short: ends the data, deletes nothing
  PageHeaderFields file;
  file.documentName = "scan.tif";
  SendBody(ImageHeaderBody(file));
  HangUp();
  EXPECT_EQ(TempFiles(), Names{});
  EXPECT_EQ(DestinationFiles(), Names{});
}

// A power loss at every step of a document on both roads. A printer that
// got the data-end answer without a cancel finds its file whole after the
// loss; whatever it got, a file under a final name is never partial.
TEST_F(ImageReceptionTest, PowerLossAtAnyStepNeverTakesAnAcknowledgedDocument) {
  const std::string tiff = SmallTiff(9000);
  const PageHeaderFields raw = RawFields("TIFF-G4MMR");
  const std::string page = RawPage(raw.width, raw.height, 2);
  for (const bool rawRoad : {false, true}) {
    // One document; whether the printer was told it is stored (the
    // data-end answer, no cancel), and the files visible after a power loss
    // `crashAfter` file operations in (-1: no loss at all).
    auto run = [&](int crashAfter, std::vector<std::string>* visible) {
      ConnectPrinter();
      if (crashAfter >= 0) env_.CrashAfterFileOps(crashAfter);
      if (rawRoad) {
        job_->document.checksumOk = true;
        SendRawPage(raw, page);
      } else {
        SendFile("scan.tif", tiff);
        SendBody(Body2(0x3005, ByteSum(tiff)));
      }
      SendBody(Body2(0x3003, 0));
      const std::string answers = ReceiveAll();
      CloseClient(fd_);
      Pump();
      if (crashAfter >= 0) env_.SimulateCrash();
      for (const std::string& name : DestinationFiles()) {
        if (name[0] != '.') visible->push_back(ReadWholeFile(dest_ + "/" + name));
        std::filesystem::remove(dest_ + "/" + name);
      }
      for (const std::string& name : TempFiles()) std::filesystem::remove(temp_ + "/" + name);
      env_.AdvanceSeconds(600);  // a refused document may have locked the printer out
      ClearLockedClients();
      const std::string expected = rawRoad ? kDataEndRes : kChecksumOk + kDataEndRes;
      return answers == expected;
    };
    std::vector<std::string> reference;
    const int64_t opsBefore = env_.FileOpCount();
    ASSERT_TRUE(run(-1, &reference));
    ASSERT_EQ(reference.size(), 1u);
    if (!rawRoad) {
      EXPECT_TRUE(reference[0] == tiff);
    }
    const int64_t ops = env_.FileOpCount() - opsBefore;
    EXPECT_GT(ops, 3);
    for (int crashAfter = 0; crashAfter <= ops; ++crashAfter) {
      std::vector<std::string> visible;
      const bool acknowledged = run(crashAfter, &visible);
      if (acknowledged) {
        EXPECT_EQ(visible.size(), 1u) << "acknowledged but lost after " << crashAfter;
      }
      for (const std::string& content : visible) {
        EXPECT_TRUE(content == reference[0]) << "a partial file after " << crashAfter << " operations";
      }
    }
  }
}

}  // namespace
}  // namespace qb::test
