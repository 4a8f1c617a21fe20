// The received-file checks on hand-made files and on truncated ones, which
// must fail without crashing (random files: the fuzz_file_checks target).
#include "imaging/file_checks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/string_file.h"

namespace qb {
namespace {

using Bytes = std::string;

// Runs a check on an in-memory file.
int Check(int (*check)(const ReadableFile&, bool), const Bytes& bytes, bool deferred) {
  return check(StringFile(bytes), deferred);
}

void Put16(Bytes& b, uint16_t v, bool be) {
  b += static_cast<char>(be ? v >> 8 : v & 0xFF);
  b += static_cast<char>(be ? v & 0xFF : v >> 8);
}
void Put32(Bytes& b, uint32_t v, bool be) {
  Put16(b, static_cast<uint16_t>(be ? v >> 16 : v & 0xFFFF), be);
  Put16(b, static_cast<uint16_t>(be ? v & 0xFFFF : v >> 16), be);
}

// A TIFF with one directory: ImageWidth, then XResolution (when wanted).
Bytes MakeTiff(bool bigEndian, uint32_t numerator, uint32_t denominator, bool withResolution) {
  Bytes b = bigEndian ? "MM" : "II";
  Put16(b, 42, bigEndian);
  Put32(b, 8, bigEndian);
  const uint16_t entries = withResolution ? 2 : 1;
  Put16(b, entries, bigEndian);
  const uint32_t valueArea = 8 + 2 + 12 * entries + 4;
  Put16(b, 0x0100, bigEndian);
  Put16(b, 4, bigEndian);
  Put32(b, 1, bigEndian);
  Put32(b, 1728, bigEndian);
  if (withResolution) {
    Put16(b, 0x011A, bigEndian);
    Put16(b, 5, bigEndian);
    Put32(b, 1, bigEndian);
    Put32(b, valueArea, bigEndian);
  }
  Put32(b, 0, bigEndian);
  Put32(b, numerator, bigEndian);
  Put32(b, denominator, bigEndian);
  return b;
}

TEST(TiffCheckTest, ResolutionRules) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 7200, 36, true), false), kCheckPassed);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 600, 1, true), false), kCheckPassed);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 1200, 1, true), false), kTiffFormatError);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 1200, 1, true), true), kCheckPassed);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 2400, 1, true), true), kCheckPassed);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 250, 1, true), true), kTiffFormatError);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 200, 0, true), false), kTiffFormatError);
    EXPECT_EQ(Check(CheckTiffFile, MakeTiff(be, 200, 1, false), false), kTiffFormatError);
  }
  Bytes wrongMagic = MakeTiff(false, 200, 1, true);
  wrongMagic[2] = 43;
  EXPECT_EQ(Check(CheckTiffFile, wrongMagic, false), kTiffFormatError);
  EXPECT_EQ(Check(CheckTiffFile, "IM*\0", false), kTiffFormatError);
  const Bytes good = MakeTiff(false, 200, 1, true);
  for (size_t cut = 2; cut < good.size(); ++cut) {
    EXPECT_EQ(Check(CheckTiffFile, good.substr(0, cut), false), kTiffReadError) << cut;
  }
  EXPECT_EQ(Check(CheckTiffFile, "", false), kTiffReadError);
}

Bytes MakeJpeg(uint16_t x, uint16_t y) {
  Bytes b("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01", 14);
  Put16(b, x, true);
  Put16(b, y, true);
  return b + Bytes("\x00\x00\xFF\xD9", 4);
}

TEST(JpegCheckTest, SignatureAndDensities) {
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(200, 200), false), kCheckPassed);
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(600, 1200), false), kCheckPassed);
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(1200, 600), false), kJpegReadError);
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(1200, 600), true), kCheckPassed);
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(300, 72), false), kJpegFormatError);
  EXPECT_EQ(Check(CheckJpegFile, MakeJpeg(72, 72), false), kJpegReadError);
  const Bytes exif(
      "\xFF\xD8\xFF\xE1\x00\x10"
      "Exif\x00\x00\x01\x01\x01\x00\xC8\x00\xC8",
      19);
  EXPECT_EQ(Check(CheckJpegFile, exif, false), kJpegFormatError);
  const Bytes good = MakeJpeg(200, 200);
  for (size_t cut = 0; cut < 18; ++cut) {
    EXPECT_EQ(Check(CheckJpegFile, good.substr(0, cut), false), kJpegReadError) << cut;
  }
}

// A PDF whose information text starts exactly `distance` bytes before the
// cross-reference section; `trailerExtra` lines go before "startxref".
Bytes MakePdf(char minor, const Bytes& info, size_t distance, const Bytes& trailerExtra = "",
              const Bytes& ending = "%%EOF\n") {
  Bytes b =
      Bytes("%PDF-1.") + minor + "\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  Bytes block = info;
  if (block.size() + 1 < distance) {
    const size_t filler = distance - block.size() - 2;
    block += '%';
    block.append(filler, 'x');
    block += '\n';
  }
  while (block.size() < distance) block += "\n";
  b += block;
  const size_t xref = b.size();
  b += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 3 >>\n" + trailerExtra + "startxref\n" +
       std::to_string(xref) + "\n" + ending;
  return b;
}

const Bytes kInfo2 =
    "2 0 obj\n<<\n/Creator (HyperGEAR,Inc.)\n/Author (HyperGEAR,Inc.)\n"
    "/Producer (HyperGEAR PDF Make Library)\n>>\nendobj\n";
const Bytes kInfo2Deferred =
    "2 0 obj\n<<\n/Creator (HyperGEAR,inc.)\n/CreationDate (D:2024)\n/ModDate (D:2024)\n"
    "/Author (HyperGEAR TIFF/PDF Convert Library)\n/Producer (HypeGEAR PDFLib rev1.0)\n>>\n";

TEST(PdfCheckTest, Version2InformationLayouts) {
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2, 111), false), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2, 112), false), kPdfFormatError);
  EXPECT_NE(Check(CheckPdfFile, MakePdf('2', kInfo2, 111), true), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2Deferred, 208), true), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2Deferred, 208), false), kPdfFormatError);
  Bytes otherCreator = kInfo2;
  otherCreator.replace(otherCreator.find("Inc."), 4, "inc.");
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', otherCreator, 111), false), kPdfFormatError);
}

TEST(PdfCheckTest, Version4Layouts) {
  const Bytes creationDate = "2 0 obj\n<<\n/CreationDate (D:2024)\n>>\nendobj\n";
  const Bytes emptyNames = "3 0 obj\n<<\n/Creator ()\n/Author ()\n/Producer ()\n>>\nendobj\n";
  const Bytes twoThenEmpty = "2 0 obj\n<<\n/Title (x)\n>>\nendobj\n" + emptyNames;
  const Bytes twoThenDate =
      "%" + Bytes(120, 'y') +
      "\n2 0 obj\n<<\n/Title (x)\n>>\nendobj\n3 0 obj\n<<\n/CreationDate (D:1)\n>>\nendobj\n";
  const Bytes namedAuthor = "3 0 obj\n<<\n/Creator ()\n/Author (me)\n/Producer ()\n>>\nendobj\n";
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', creationDate, 180), false), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', emptyNames, 180), false), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', twoThenEmpty, 180), false), kCheckPassed);
  // "/CreationDate", ">>", "endobj", then the cross-reference section.
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', twoThenDate, twoThenDate.size()), false),
            kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', namedAuthor, 180), false), kPdfFormatError);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', "", 180), false), kPdfFormatError);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('4', "", 180, "/Encrypt 9 0 R\n"), false), kCheckPassed);
}

TEST(PdfCheckTest, VersionEndingAndXrefRules) {
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('3', kInfo2, 111), false), kPdfFormatError);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('3', "", 180, "/Encrypt 9 0 R\n"), false), kPdfFormatError);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2, 111, "", "%%EOF\r\n"), false),
            kPdfFormatError);
  EXPECT_EQ(Check(CheckPdfFile, MakePdf('2', kInfo2, 111, "", "%%EOF"), false), kPdfFormatError);
  Bytes wrongXref = MakePdf('2', kInfo2, 111);
  wrongXref[wrongXref.rfind("startxref\n") + 10] = '9';  // offset now wrong
  EXPECT_NE(Check(CheckPdfFile, wrongXref, false), kCheckPassed);
  EXPECT_EQ(Check(CheckPdfFile, "%PDF-2.0\n%%EOF\n", false), kPdfFormatError);
  const Bytes good = MakePdf('2', kInfo2, 111);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_NE(Check(CheckPdfFile, good.substr(0, cut), false), kCheckPassed) << cut;
  }
}

TEST(ReceivedFileCheckTest, DataFormSelectsTheCheck) {
  const StringFile file(MakeTiff(false, 1200, 1, true));
  EXPECT_FALSE(CheckReceivedFile(file, 1, 0));
  EXPECT_TRUE(CheckReceivedFile(file, 1, 1));
  for (int form : {0, 2, 3, 4, 5, 6}) EXPECT_FALSE(CheckReceivedFile(file, form, 1)) << form;
}

}  // namespace
}  // namespace qb
