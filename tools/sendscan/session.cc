#include "tools/sendscan/session.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/env.h"
#include "tools/sendscan/bitmap.h"
#include "tools/sendscan/file_maker.h"
#include "tools/sendscan/messages.h"
#include "tools/sendscan/printer_link.h"

namespace qb::sendscan {
namespace {

constexpr uint16_t kJobPortNumber = 37100;
constexpr uint16_t kDirectPortNumber = 37101;
// A packet shorter than this ends the receiver's data phase, so image data
// never goes out in smaller pieces.
constexpr size_t kMinDataPacket = 5;
// Replies that may follow the end of a document (a cancel and a second
// acknowledgement) come this soon.
constexpr int kFollowUpMs = 300;

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

bool ParseDestination(const std::string& text, uint16_t* number) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) {
    Say("the destination must be a number from 0 to 65535: " + text);
    return false;
  }
  *number = static_cast<uint16_t>(value);
  return true;
}

// One connection and what went wrong on it.
class Conversation {
 public:
  explicit Conversation(const Options& options) : options_(options) {}

  bool Open(uint16_t port) {
    std::string error;
    if (link_.Open(options_.host, options_.source, port, options_.timeoutMs, &error)) return true;
    Say(error);
    failed_ = true;
    return false;
  }

  bool Send(const Bytes& body) {
    if (link_.Send(body)) return true;
    Say("the receiver closed the connection");
    failed_ = true;
    return false;
  }

  // Waits for the reply `code`, printing every reply on the way; a cancel
  // from the receiver fails the conversation.
  bool Await(uint16_t code, Bytes* reply) {
    for (;;) {
      if (!link_.Receive(reply, options_.timeoutMs)) {
        Say("no reply from the receiver");
        failed_ = true;
        return false;
      }
      Say(DescribeReply(*reply));
      if (GetBe16(*reply, 0) == kPcCancel) failed_ = true;
      if (GetBe16(*reply, 0) == code) return true;
    }
  }

  // Prints the replies that arrive within `ms`.
  void FollowUp(int ms) {
    Bytes reply;
    while (link_.Receive(&reply, ms)) {
      Say(DescribeReply(reply));
      if (GetBe16(reply, 0) == kPcCancel) failed_ = true;
    }
  }

  bool NegotiateJob(uint16_t destination, const JobParameters& parameters) {
    uint16_t major = static_cast<uint16_t>(options_.major < 0 ? 1 : options_.major);
    Bytes reply;
    if (!Send(CapRequest(major, static_cast<uint16_t>(options_.minor), false, 0)) ||
        !Await(kCapRes, &reply)) {
      return false;
    }
    Bytes request =
        options_.usePara ? ParaRequest(destination) : Para2Request(destination, parameters);
    if (!Send(request) || !Await(kParaRes, &reply)) return false;
    return Accepted(reply);
  }

  // The capability exchange that fixes the direct port's key numbers.
  bool NegotiateDirect() {
    const std::string& ip = options_.source;
    if (ip.empty()) {
      Say("the direct port's cipher needs the address the receiver sees: give --source");
      failed_ = true;
      return false;
    }
    uint16_t major = static_cast<uint16_t>(options_.major < 0 ? 3 : options_.major);
    std::string client = std::to_string(options_.clientKey);
    // The request goes out before any key number is known; the reply comes
    // with ours but still without the receiver's.
    link_.SetKeyText("0-" + ip + "-0");
    if (!Send(CapRequest(major, static_cast<uint16_t>(options_.minor), true, options_.clientKey))) {
      return false;
    }
    link_.SetKeyText(client + "-" + ip + "-0");
    Bytes reply;
    if (!Await(kCapRes, &reply) || reply.size() < 16) return failed_ = true, false;
    link_.SetKeyText(client + "-" + ip + "-" + std::to_string(GetBe16(reply, 14)));
    return true;
  }

  // Result word 1 means accepted.
  bool Accepted(const Bytes& reply) {
    if (GetBe16(reply, 2) != 1) failed_ = true;
    return !failed_;
  }

  PrinterLink& link() { return link_; }
  bool failed() const { return failed_; }
  int Status() const { return failed_ ? kExitRefused : kExitOk; }

 private:
  const Options& options_;
  PrinterLink link_;
  bool failed_ = false;
};

// Sends `total` bytes of image data taken from `fill` in packets that the
// receiver reads as data. Stops early, dropping the connection, once
// `dropAfter` bytes of the conversation's image data are out.
class DataPump {
 public:
  DataPump(Conversation* conversation, long long dropAfter)
      : conversation_(conversation), dropAfter_(dropAfter), frame_(kMaxBody + 2) {}

  enum Outcome { kSent, kDropped, kBroken };

  Outcome Send(uint64_t total, const std::function<bool(uint8_t*, size_t)>& fill) {
    while (total > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(total, kMaxBody));
      if (total - n > 0 && total - n < kMinDataPacket) n -= kMinDataPacket;
      if (!fill(frame_.data() + 2, n)) return kBroken;
      for (size_t i = 0; i < n; ++i) checksum_ = static_cast<uint16_t>(checksum_ + frame_[2 + i]);
      frame_[0] = static_cast<uint8_t>(n >> 8);
      frame_[1] = static_cast<uint8_t>(n);
      size_t out = n + 2;
      bool drop = dropAfter_ >= 0 && sent_ + n >= static_cast<uint64_t>(dropAfter_);
      if (drop) out = 2 + static_cast<size_t>(dropAfter_ - static_cast<long long>(sent_));
      if (!conversation_->link().SendFramed(frame_.data(), out)) return kBroken;
      if (drop) {
        conversation_->link().Close();
        Say("dropped the connection after " + std::to_string(dropAfter_) + " bytes of image data");
        return kDropped;
      }
      sent_ += n;
      total -= n;
    }
    return kSent;
  }

  uint16_t checksum() const { return checksum_; }
  uint64_t sent() const { return sent_; }

 private:
  Conversation* conversation_;
  long long dropAfter_;
  Bytes frame_;
  uint64_t sent_ = 0;
  uint16_t checksum_ = 0;
};

bool BuildParameters(const Options& o, JobParameters* parameters) {
  parameters->senderName = o.senderName;
  int records =
      (!o.fileName.empty() || !o.subFolder.empty()) + !o.senderRecord.empty() + !o.metaFile.empty();
  if (records > 1) {
    Say("a job carries one meta-data record: choose --file-name/--sub-folder, --skan-sender or "
        "--meta-file");
    return false;
  }
  if (!o.fileName.empty() || !o.subFolder.empty()) {
    parameters->metaRecord = AttributeRecord(o.subFolder, o.fileName);
  } else if (!o.senderRecord.empty()) {
    parameters->metaRecord = SenderRecord(o.senderRecord);
  } else if (!o.metaFile.empty()) {
    std::string record;
    if (!ReadWholeFile(Env::Default(), o.metaFile, &record).ok()) {
      Say("cannot read " + o.metaFile);
      return false;
    }
    parameters->metaRecord.assign(record.begin(), record.end());
  }
  if (parameters->metaRecord.size() + 26 > kMaxBody) {
    Say("the meta data do not fit into one request");
    return false;
  }
  return true;
}

// Ends the document: checksum, data end, and whatever follows them.
int FinishDocument(Conversation& c, const Options& o, uint16_t checksum, int pages) {
  Bytes reply;
  uint16_t sum = o.checksum >= 0 ? static_cast<uint16_t>(o.checksum) : checksum;
  if (c.Send(TwoWords(kImgChecksum, sum)) && c.Await(kChecksumRes, &reply)) c.Accepted(reply);
  if (c.Send(TwoWords(kDataEnd, 0)) && c.Await(kDataEndRes, &reply)) c.FollowUp(kFollowUpMs);
  Say(std::string(c.failed() ? "document failed" : "document sent") + " (" + std::to_string(pages) +
      (pages == 1 ? " page)" : " pages)"));
  return c.Status();
}

// The bitmaps named after the command's first operand.
bool ReadBitmaps(const Options& o, std::vector<Bitmap>* bitmaps) {
  for (size_t i = 1; i < o.args.size(); ++i) {
    Bitmap bitmap;
    std::string error;
    if (!ReadNetpbm(o.args[i], &bitmap, &error)) {
      Say(error);
      return false;
    }
    bitmaps->push_back(std::move(bitmap));
  }
  return true;
}

uint16_t DataFormOf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (extension == ".tif" || extension == ".tiff") return 1;
  if (extension == ".jpg" || extension == ".jpeg") return 4;
  if (extension == ".pdf") return 5;
  return 0;
}

}  // namespace

int RunCapability(const Options& o) {
  Conversation c(o);
  if (!c.Open(o.direct ? kDirectPortNumber : kJobPortNumber)) return c.Status();
  if (o.direct) return c.NegotiateDirect() ? kExitOk : c.Status();
  uint16_t major = static_cast<uint16_t>(o.major < 0 ? 1 : o.major);
  Bytes reply;
  if (c.Send(CapRequest(major, static_cast<uint16_t>(o.minor), false, 0))) c.Await(kCapRes, &reply);
  return c.Status();
}

int RunFolderCheck(const Options& o) {
  uint16_t destination = 0;
  JobParameters parameters;
  if (!ParseDestination(o.args[0], &destination) || !BuildParameters(o, &parameters)) {
    return kExitFault;
  }
  Conversation c(o);
  if (o.jobPort) {
    if (c.Open(kJobPortNumber)) c.NegotiateJob(destination, parameters);
    return c.Status();
  }
  Bytes reply;
  if (c.Open(kDirectPortNumber) && c.NegotiateDirect() && c.Send(Para2DirectRequest(destination)) &&
      c.Await(kParaRes, &reply)) {
    c.Accepted(reply);
  }
  return c.Status();
}

int RunDirName(const Options& o) {
  uint16_t destination = 0;
  if (!ParseDestination(o.args[0], &destination)) return kExitFault;
  Conversation c(o);
  Bytes reply;
  if (c.Open(kDirectPortNumber) && c.NegotiateDirect() && c.Send(DirNameRequest(destination)) &&
      c.Await(kDirNameRes, &reply)) {
    c.Accepted(reply);
  }
  return c.Status();
}

int RunDirList(const Options& o) {
  Conversation c(o);
  Bytes reply;
  if (c.Open(kDirectPortNumber) && c.NegotiateDirect() && c.Send(DirListRequest(o.args[0])) &&
      c.Await(kDirListRes, &reply)) {
    c.Accepted(reply);
  }
  return c.Status();
}

int RunSendFiles(const Options& o) {
  uint16_t destination = 0;
  JobParameters parameters;
  if (!ParseDestination(o.args[0], &destination) || !BuildParameters(o, &parameters)) {
    return kExitFault;
  }
  std::vector<std::string> files(o.args.begin() + 1, o.args.end());
  // A job without meta data is one the receiver handles as deferred; its
  // checks differ a little.
  const bool deferred = o.usePara || parameters.metaRecord.empty();
  bool doomed = false;
  for (const std::string& file : files) {
    std::error_code error;
    uint64_t size = std::filesystem::file_size(file, error);
    if (error || DataFormOf(file) == 0 || (size > 0 && size < kMinDataPacket)) {
      Say(file + ": not a readable .tif, .jpg or .pdf file of 5 bytes or more");
      return kExitFault;
    }
    std::string reason = PreCheckFile(file, DataFormOf(file), deferred);
    if (reason.empty()) continue;
    Say(file + ": " + reason + "; the receiver would drop it and lock this address out for 5 " +
        "minutes");
    if (!o.force) {
      Say("nothing sent (make a file that passes with make-pdf or make-tiff, or send it anyway "
          "with --force)");
      return kExitWouldDrop;
    }
    doomed = true;
  }
  Conversation c(o);
  if (!c.Open(kJobPortNumber) || !c.NegotiateJob(destination, parameters)) return c.Status();
  DataPump pump(&c, o.dropAfter);
  for (const std::string& file : files) {
    std::unique_ptr<ReadableFile> in;
    if (!Env::Default().OpenReadable(file, &in).ok()) {
      Say("cannot read " + file);
      return kExitFault;
    }
    const uint64_t size = in->Size();
    ImageHeaderFields header;
    header.dataForm = DataFormOf(file);
    header.dataLength = static_cast<uint32_t>(size);
    header.documentName =
        o.documentName.empty() ? std::filesystem::path(file).filename().string() : o.documentName;
    Say("sending " + file + " (" + std::to_string(size) + " bytes) as " + header.documentName);
    if (!c.Send(ImageHeader(header))) return c.Status();
    uint64_t at = 0;
    auto fill = [&in, &at](uint8_t* data, size_t n) {
      size_t got = 0;
      const bool whole = in->ReadAt(at, data, n, &got).ok() && got == n;
      at += n;
      return whole;
    };
    DataPump::Outcome outcome = pump.Send(size, fill);
    if (outcome == DataPump::kDropped) return kExitRefused;
    if (outcome == DataPump::kBroken || !c.Send(TwoWords(kPageEnd, 0))) {
      Say("sending " + file + " failed");
      return kExitRefused;
    }
  }
  int status = FinishDocument(c, o, pump.checksum(), static_cast<int>(files.size()));
  if (doomed && status == kExitOk) {
    // The receiver answers as usual and drops the file afterwards.
    Say("the receiver's checks drop this document: it did not land (--force)");
    return kExitRefused;
  }
  return status;
}

int RunSendRaw(const Options& o) {
  uint16_t destination = 0;
  JobParameters parameters;
  if (!ParseDestination(o.args[0], &destination) || !BuildParameters(o, &parameters)) {
    return kExitFault;
  }
  std::vector<Bitmap> bitmaps;
  if (!ReadBitmaps(o, &bitmaps)) return kExitFault;
  int pages = o.pages > 0 ? o.pages : std::max<int>(1, static_cast<int>(bitmaps.size()));
  Conversation c(o);
  if (!c.Open(kJobPortNumber) || !c.NegotiateJob(destination, parameters)) return c.Status();
  DataPump pump(&c, o.dropAfter);
  for (int page = 0; page < pages; ++page) {
    Bitmap drawn;
    if (bitmaps.empty()) drawn = TestPage(o.width, o.height, page);
    const Bitmap& bitmap = bitmaps.empty() ? drawn : bitmaps[page % bitmaps.size()];
    if (!o.savePages.empty() && !WritePbm(o.savePages + std::to_string(page) + ".pbm", bitmap)) {
      Say("cannot write " + o.savePages + std::to_string(page) + ".pbm");
      return kExitFault;
    }
    // The receiver codes whole bytes of each line only.
    size_t lineBytes = static_cast<size_t>(bitmap.width) / 8;
    uint64_t total = static_cast<uint64_t>(lineBytes) * static_cast<uint64_t>(bitmap.height);
    ImageHeaderFields header;
    header.formatName = o.format;
    header.dataLength = static_cast<uint32_t>(total);
    header.resolutionCode = static_cast<uint16_t>((o.dpi / 100) << 8);
    header.width = static_cast<uint16_t>(bitmap.width);
    header.height = static_cast<uint16_t>(bitmap.height);
    header.continuation = page > 0 && !o.perPage ? 1 : 0;
    header.documentName = o.documentName.empty() ? "SCAN" : o.documentName;
    Say("sending page " + std::to_string(page + 1) + " (" + std::to_string(bitmap.width) + " x " +
        std::to_string(bitmap.height) + ", " + o.format + ", " + std::to_string(o.dpi) + " dpi)");
    if (!c.Send(ImageHeader(header))) return c.Status();
    uint64_t position = 0;
    auto fill = [&](uint8_t* data, size_t n) {
      for (size_t i = 0; i < n; ++i, ++position) {
        data[i] = bitmap.Row(static_cast<int>(position / lineBytes))[position % lineBytes];
      }
      return true;
    };
    DataPump::Outcome outcome = pump.Send(total, fill);
    if (outcome == DataPump::kDropped) return kExitRefused;
    if (outcome == DataPump::kBroken || !c.Send(TwoWords(kPageEnd, 0))) {
      Say("the receiver closed the connection");
      return kExitRefused;
    }
  }
  // Raw lines are not summed by the receiver: its checksum stays 0.
  return FinishDocument(c, o, 0, pages);
}

}  // namespace qb::sendscan

namespace qb::sendscan {
namespace {

using FileWriter = bool (*)(const std::string&, const std::vector<Bitmap>&, int, std::string*);

int MakeFile(const Options& o, FileWriter write, const char* kind) {
  const std::string& path = o.args[0];
  std::vector<Bitmap> bitmaps;
  if (!ReadBitmaps(o, &bitmaps)) return kExitFault;
  int count = o.pages > 0 ? o.pages : std::max<int>(1, static_cast<int>(bitmaps.size()));
  std::vector<Bitmap> pages;
  for (int page = 0; page < count; ++page) {
    pages.push_back(bitmaps.empty() ? TestPage(o.width, o.height, page)
                                    : bitmaps[page % bitmaps.size()]);
  }
  std::string error;
  if (!write(path, pages, o.dpi, &error)) {
    Say(error);
    return kExitFault;
  }
  // What is made here must pass the checks it is made for.
  for (bool deferred : {false, true}) {
    std::string reason = PreCheckFile(path, DataFormOf(path), deferred);
    if (!reason.empty()) {
      Say(path + ": " + reason);
      return kExitFault;
    }
  }
  Say("wrote " + path + ": " + kind + ", " + std::to_string(count) +
      (count == 1 ? " page" : " pages") + " at " + std::to_string(o.dpi) +
      " dpi, laid out as printers write it");
  return kExitOk;
}

}  // namespace

int RunMakePdf(const Options& o) {
  if (DataFormOf(o.args[0]) != 5) {
    Say(o.args[0] + ": the PDF's name must end in .pdf (send takes the form from the name)");
    return kExitFault;
  }
  return MakeFile(o, WritePrinterPdf, "PDF 1.4, T.6 coded");
}

int RunMakeTiff(const Options& o) {
  if (DataFormOf(o.args[0]) != 1) {
    Say(o.args[0] +
        ": the TIFF's name must end in .tif or .tiff (send takes the form from the "
        "name)");
    return kExitFault;
  }
  return MakeFile(o, WriteFaxTiff, "TIFF, T.6 coded");
}

}  // namespace qb::sendscan
