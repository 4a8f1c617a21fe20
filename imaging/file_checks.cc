#include "imaging/file_checks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qb {
namespace {

// A read position in a file, read as the printers' files were laid out for
// stdio: seeks past the end succeed and the read after them fails.
class Cursor {
 public:
  explicit Cursor(const ReadableFile& file) : file_(file) {}

  bool Read(void* buffer, size_t length) {
    size_t got = 0;
    if (!file_.ReadAt(at_, buffer, length, &got) || got != length) return false;
    at_ += length;
    return true;
  }
  void Seek(uint64_t offset) { at_ = offset; }
  // False, the position unchanged, when the file is shorter than `distance`.
  bool SeekFromEnd(uint64_t distance) {
    if (distance > file_.Size()) return false;
    at_ = file_.Size() - distance;
    return true;
  }
  // As fgets: at most size - 1 bytes, up to and including a line feed;
  // false at the end of the file.
  bool ReadLine(char* buffer, int size) {
    size_t got = 0;
    if (size < 2 || !file_.ReadAt(at_, buffer, static_cast<size_t>(size - 1), &got) || got == 0) {
      return false;
    }
    const void* feed = std::memchr(buffer, '\n', got);
    if (feed != nullptr) got = static_cast<size_t>(static_cast<const char*>(feed) - buffer) + 1;
    buffer[got] = '\0';
    at_ += got;
    return true;
  }

 private:
  const ReadableFile& file_;
  uint64_t at_ = 0;
};

bool ReadExactly(Cursor& file, void* buffer, size_t length) { return file.Read(buffer, length); }

bool ResolutionAllowed(uint32_t dpi, bool deferredNotify) {
  switch (dpi) {
    case 100:
    case 200:
    case 300:
    case 400:
    case 600:
      return true;
    case 1200:
    case 2400:
      return deferredNotify;
    default:
      return false;
  }
}

class EndianReader {
 public:
  EndianReader(Cursor& file, bool bigEndian) : file_(file), bigEndian_(bigEndian) {}
  bool U16(uint16_t* value) {
    uint8_t b[2];
    if (!ReadExactly(file_, b, 2)) return false;
    *value = bigEndian_ ? static_cast<uint16_t>(b[0] << 8 | b[1])
                        : static_cast<uint16_t>(b[1] << 8 | b[0]);
    return true;
  }
  bool U32(uint32_t* value) {
    uint8_t b[4];
    if (!ReadExactly(file_, b, 4)) return false;
    *value = bigEndian_ ? (uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3])
                        : (uint32_t{b[3]} << 24 | b[2] << 16 | b[1] << 8 | b[0]);
    return true;
  }

 private:
  Cursor& file_;
  bool bigEndian_;
};

bool SeekTo(Cursor& file, uint32_t offset) {
  file.Seek(offset);
  return true;
}

// Reads one line of at most size - 1 characters, as the printers' files are
// laid out for; false at end of file.
bool ReadLine(Cursor& file, char* buffer, int size) { return file.ReadLine(buffer, size); }

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Reads lines until one begins with `prefix`; false at end of file.
bool FindLine(Cursor& file, const char* prefix) {
  char line[127];
  while (ReadLine(file, line, sizeof line)) {
    if (StartsWith(line, prefix)) return true;
  }
  return false;
}

// Reads the next line and tells whether it begins with `prefix`.
bool NextLineStartsWith(Cursor& file, const char* prefix) {
  char line[127];
  return ReadLine(file, line, sizeof line) && StartsWith(line, prefix);
}

bool SkipLine(Cursor& file) {
  char line[127];
  return ReadLine(file, line, sizeof line);
}

bool SeekBefore(Cursor& file, long xref, long distance) {
  if (xref < distance) return false;
  file.Seek(static_cast<uint64_t>(xref - distance));
  return true;
}

// The version 1.2 information object, 111 (or, for deferred jobs, 208)
// bytes before the cross-reference section.
int CheckInfoVersion2(Cursor& file, long xref, bool deferredNotify) {
  if (!SeekBefore(file, xref, deferredNotify ? 208 : 111)) return kPdfReadError;
  if (!NextLineStartsWith(file, "2 0 obj") || !SkipLine(file)) return kPdfFormatError;
  if (!deferredNotify) {
    const bool ok = NextLineStartsWith(file, "/Creator (HyperGEAR,Inc.)") &&
                    NextLineStartsWith(file, "/Author (HyperGEAR,Inc.)") &&
                    NextLineStartsWith(file, "/Producer (HyperGEAR PDF Make Library)");
    return ok ? kCheckPassed : kPdfFormatError;
  }
  const bool ok = NextLineStartsWith(file, "/Creator (HyperGEAR,inc.)") && SkipLine(file) &&
                  SkipLine(file) &&
                  NextLineStartsWith(file, "/Author (HyperGEAR TIFF/PDF Convert Library)") &&
                  NextLineStartsWith(file, "/Producer (HypeGEAR PDFLib rev1.0");
  return ok ? kCheckPassed : kPdfFormatError;
}

// After "3 0 obj" and one skipped line: empty creator, author and producer.
bool EmptyNamesFollow(Cursor& file) {
  return SkipLine(file) && NextLineStartsWith(file, "/Creator ()") &&
         NextLineStartsWith(file, "/Author ()") && NextLineStartsWith(file, "/Producer ()");
}

int CheckInfoVersion4(Cursor& file, long xref, bool encrypted) {
  if (encrypted) return kCheckPassed;
  if (!SeekBefore(file, xref, 180)) return kPdfReadError;
  if (!FindLine(file, "2 0 obj")) {
    if (!SeekBefore(file, xref, 180) || !FindLine(file, "3 0 obj")) return kPdfFormatError;
    return EmptyNamesFollow(file) ? kCheckPassed : kPdfFormatError;
  }
  if (!SkipLine(file)) return kPdfFormatError;
  if (NextLineStartsWith(file, "/CreationDate")) return kCheckPassed;
  if (!FindLine(file, "3 0 obj") || !SkipLine(file)) return kPdfFormatError;
  char line[127];
  if (!ReadLine(file, line, sizeof line)) return kPdfFormatError;
  if (StartsWith(line, "/Creator ()")) {
    const bool ok =
        NextLineStartsWith(file, "/Author ()") && NextLineStartsWith(file, "/Producer ()");
    return ok ? kCheckPassed : kPdfFormatError;
  }
  if (StartsWith(line, "/CreationDate")) {
    const bool ok = SkipLine(file) && SkipLine(file) && NextLineStartsWith(file, "xref");
    return ok ? kCheckPassed : kPdfFormatError;
  }
  return kPdfFormatError;
}

// Parses the decimal offset after "startxref"; -1 when it is not a number.
long ParseOffset(const char* line) {
  long value = 0;
  int digits = 0;
  for (; *line == ' '; ++line) {
  }
  for (; *line >= '0' && *line <= '9' && digits < 12; ++line, ++digits) {
    value = value * 10 + (*line - '0');
  }
  return digits == 0 ? -1 : value;
}

int CheckTiff(Cursor& file, bool deferredNotify) {
  uint8_t order[2];
  if (!ReadExactly(file, order, 2)) return kTiffReadError;
  bool bigEndian;
  if (order[0] == 'I' && order[1] == 'I') {
    bigEndian = false;
  } else if (order[0] == 'M' && order[1] == 'M') {
    bigEndian = true;
  } else {
    return kTiffFormatError;
  }
  EndianReader reader(file, bigEndian);
  uint16_t magic;
  if (!reader.U16(&magic)) return kTiffReadError;
  if (magic != 42) return kTiffFormatError;
  uint32_t directory;
  uint16_t entries;
  if (!reader.U32(&directory) || !SeekTo(file, directory) || !reader.U16(&entries)) {
    return kTiffReadError;
  }
  for (uint32_t i = 0; i < entries; ++i) {
    uint16_t tag, type;
    uint32_t count, value;
    if (!reader.U16(&tag) || !reader.U16(&type) || !reader.U32(&count) || !reader.U32(&value)) {
      return kTiffReadError;
    }
    if (tag != 0x011A) continue;
    uint32_t numerator, denominator;
    if (!SeekTo(file, value) || !reader.U32(&numerator) || !reader.U32(&denominator)) {
      return kTiffReadError;
    }
    if (denominator == 0) return kTiffFormatError;
    return ResolutionAllowed(numerator / denominator, deferredNotify) ? kCheckPassed
                                                                      : kTiffFormatError;
  }
  return kTiffFormatError;  // no XResolution
}

int CheckJpeg(Cursor& file, bool deferredNotify) {
  static const uint8_t kJfifStart[11] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10,
                                         'J',  'F',  'I',  'F',  0x00};
  uint8_t head[11];
  if (!ReadExactly(file, head, sizeof head)) return kJpegReadError;
  if (std::memcmp(head, kJfifStart, sizeof head) != 0) return kJpegFormatError;
  uint8_t rest[7];  // version (2), density unit (1), X and Y density
  if (!ReadExactly(file, rest, sizeof rest)) return kJpegReadError;
  const uint32_t xDensity = rest[3] << 8 | rest[4];
  const uint32_t yDensity = rest[5] << 8 | rest[6];
  if (!ResolutionAllowed(xDensity, deferredNotify)) return kJpegReadError;
  const bool yAllowed = ResolutionAllowed(yDensity, true);
  return yAllowed ? kCheckPassed : kJpegFormatError;
}

int CheckPdf(Cursor& file, bool deferredNotify) {
  char head[8];
  if (!ReadExactly(file, head, sizeof head)) return kPdfReadError;
  if (std::memcmp(head, "%PDF-1.", 7) != 0) return kPdfFormatError;
  const char minorVersion = head[7];

  char tail[5];
  if (!file.SeekFromEnd(6) || !ReadExactly(file, tail, sizeof tail)) {
    return kPdfReadError;
  }
  if (std::memcmp(tail, "%%EOF", 5) != 0) return kPdfFormatError;

  if (!file.SeekFromEnd(150)) return kPdfReadError;
  char line[79];
  bool encrypted = false;
  bool foundStartxref = false;
  while (ReadLine(file, line, sizeof line)) {
    if (StartsWith(line, "/Encrypt")) encrypted = true;
    if (StartsWith(line, "startxref")) {
      foundStartxref = true;
      break;
    }
  }
  if (!foundStartxref || !ReadLine(file, line, sizeof line)) return kPdfReadError;
  const long xref = ParseOffset(line);
  if (xref < 0) return kPdfReadError;
  file.Seek(static_cast<uint64_t>(xref));
  if (!NextLineStartsWith(file, "xref")) return kPdfFormatError;

  switch (minorVersion) {
    case '2':
      return CheckInfoVersion2(file, xref, deferredNotify);
    case '4':
      return CheckInfoVersion4(file, xref, encrypted);
    default:
      return kPdfFormatError;
  }
}

}  // namespace

int CheckTiffFile(const ReadableFile& file, bool deferredNotify) {
  Cursor cursor(file);
  return CheckTiff(cursor, deferredNotify);
}

int CheckJpegFile(const ReadableFile& file, bool deferredNotify) {
  Cursor cursor(file);
  return CheckJpeg(cursor, deferredNotify);
}

int CheckPdfFile(const ReadableFile& file, bool deferredNotify) {
  Cursor cursor(file);
  return CheckPdf(cursor, deferredNotify);
}

bool CheckReceivedFile(const ReadableFile& file, int dataForm, bool deferredNotify) {
  const bool deferred = deferredNotify != 0;
  switch (dataForm) {
    case 1:
      return CheckTiffFile(file, deferred) == kCheckPassed;
    case 4:
      return CheckJpegFile(file, deferred) == kCheckPassed;
    case 5:
      return CheckPdfFile(file, deferred) == kCheckPassed;
    default:
      return false;
  }
}

namespace {

// The file a check reads, remembering whether the disk failed a read.
class WatchedRead final : public ReadableFile {
 public:
  explicit WatchedRead(const ReadableFile& file) : file_(file) {}
  FileResult ReadAt(uint64_t offset, void* out, size_t length, size_t* got) const override {
    FileResult result = file_.ReadAt(offset, out, length, got);
    if (!result.ok()) failed_ = true;
    return result;
  }
  uint64_t Size() const override { return file_.Size(); }
  bool Failed() const { return failed_; }

 private:
  const ReadableFile& file_;
  mutable bool failed_ = false;
};

}  // namespace

FileVerdict JudgeReceivedFile(const ReadableFile& file, int dataForm, bool deferredNotify) {
  const WatchedRead read(file);
  if (CheckReceivedFile(read, dataForm, deferredNotify)) return FileVerdict::kPassed;
  return read.Failed() ? FileVerdict::kUnreadable : FileVerdict::kRefused;
}

}  // namespace qb
