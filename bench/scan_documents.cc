// Whole documents through the receiver on loopback: capability and
// parameter exchange, pages, checksum and end of data, with the files
// written into a destination folder. Three loads: one connection sending a
// raw A4 document as MMR into TIFF (pages per second; the 200-page run
// shows that memory does not grow with the document), one sending a 50 MB
// TIFF by the file road (MB/s), and 100 printers at once with two-page raw
// documents (wall time and peak memory of the process).
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/folders.h"
#include "imaging/page_file.h"
#include "office_pages.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "platform/worker_pool.h"
#include "scanproto/access_lock.h"
#include "scanproto/scan_server.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr size_t kMaxBody = 24576;

// Resident memory of this process in KiB (VmRSS), and its peak (VmHWM).
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return 0;
}

// Samples the resident size while a load runs; the peak above the value
// at the start is what the load cost.
class RssSampler {
 public:
  RssSampler() : base_(StatusKb("VmRSS:")), peak_(base_) {
    thread_ = std::thread([this] {
      while (!stop_) {
        long now = StatusKb("VmRSS:");
        if (now > peak_) peak_ = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  ~RssSampler() { Stop(); }
  long Stop() {
    if (thread_.joinable()) {
      stop_ = true;
      thread_.join();
    }
    return peak_ - base_;
  }

 private:
  long base_;
  std::atomic<long> peak_;
  std::atomic<bool> stop_{false};
  std::atomic<uint16_t> port_{0};
  std::thread thread_;
};

// A machine root of its own with destination 1, and the server on a thread.
class Receiver {
 public:
  Receiver() {
    char pattern[] = "/tmp/qbbench.XXXXXX";
    root_ = ::mkdtemp(pattern);
    dest_ = root_ + "/dest";
    const std::string data = root_ + "/var/lib/Tovira/Quillbox";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(dest_);
    std::filesystem::create_directories(root_ + "/tmp");
    std::filesystem::create_directories(root_ + "/etc");
    std::ofstream(data + "/quern.ini") << "[MANAGEMENT]\nMaxConnectNum=100\nOverWrite=0\n";
    std::ofstream(data + "/tvscan_f.bin") << "1;" << dest_ << ";Bench;;\n";
    ::setenv("QUILLBOX_ROOT", root_.c_str(), 1);
    // Page files beside the destination, on the same disk, unless
    // QB_BENCH_TMP names another folder (a tmpfs, as TMP may be for the
    // service): what a page costs depends on the file system they go to.
    const char* pages = std::getenv("QB_BENCH_TMP");
    pageFolder_ = pages != nullptr && pages[0] != '\0' ? pages : root_ + "/tmp";
    ::setenv("TMP", pageFolder_.c_str(), 1);
    qb::LocateSettingsFile(qb::Env::Default());
    qb::InitTempFolder();
    qb::ClearLockedClients();
    std::atomic<bool> ready{false};
    thread_ = std::thread([this, &ready] {
      // The program's own Env: its buffered files and real free space, so
      // that the figures are what a printer costs the installed receiver.
      qb::Env& env = qb::Env::Default();
      qb::EventLoop loop(env);
      // Documents' slow steps run on worker threads as in the program; their
      // CPU time is the receiver's too.
      qb::WorkerPool workers;
      auto onWorkers = [this, &workers, &loop](auto work, auto done) {
        workers.Run(
            loop,
            [this, work] {
              const int64_t start = qb::ThreadCpuMicros();
              work();
              workerMicros_ += qb::ThreadCpuMicros() - start;
            },
            done);
      };
      qb::ScanServer server(loop, env, qb::ReceiverEvents{}, onWorkers);
      if (!server.Start(true, qb::ListenPorts{0, 0})) {
        std::fprintf(stderr, "the scan server did not start\n");
        std::exit(1);
      }
      port_ = server.BoundPort(qb::kJobPort);
      // Ends the loop once asked to and every connection has been freed.
      loop.AddTimer(20, [this, &loop, &server] {
        if (stop_ && server.FirstJob() == nullptr) loop.Quit(0);
      });
      const int64_t cpuAtStart = qb::ThreadCpuMicros();
      ready = true;
      loop.Run();
      server.Stop();
      cpuMicros_ = qb::ThreadCpuMicros() - cpuAtStart + workerMicros_;
    });
    while (!ready) std::this_thread::yield();
  }
  // Waits until every connection was closed and freed.
  ~Receiver() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  const std::string& dest() const { return dest_; }
  // Where the receiver keeps its page files.
  const std::string& pageFolder() const { return pageFolder_; }
  // The port of the job listener.
  uint16_t port() const { return port_; }
  // CPU time of the receiver's threads (loop and document workers) while it
  // served (valid once stopped).
  int64_t CpuMicros() const { return cpuMicros_; }
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
  }
  // Whether every file in the folder has the same content (the printers of
  // the crowd test all send the same page, so every stored file must be
  // the same one-page TIFF).
  bool AllFilesEqual() const {
    std::string first;
    bool haveFirst = false;
    for (const auto& entry : std::filesystem::directory_iterator(dest_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!haveFirst) {
        first = content;
        haveFirst = true;
      } else if (content != first) {
        return false;
      }
    }
    return haveFirst && first.compare(0, 4, std::string("II*\0", 4)) == 0;
  }

  // Bytes of the files in the folder.
  uint64_t StoredBytes() const {
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dest_)) bytes += entry.file_size();
    return bytes;
  }

  size_t FileCount() const {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dest_)) {
      n += entry.file_size() > 0;
    }
    return n;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<uint16_t> port_{0};
  std::atomic<int64_t> cpuMicros_{0};
  std::atomic<int64_t> workerMicros_{0};
  std::string root_, dest_, pageFolder_;
  std::thread thread_;
};

std::string Be16(uint16_t v) {
  return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

class Printer {
 public:
  // Printer `index` calls from 127.0.0.(2 + index): printers are separate
  // machines, each within the receiver's limit of connections per address.
  explicit Printer(uint16_t port, int index = 0) {
    uint32_t local = 0;
    qb::ParseDottedAddress("127.0.0.2", &local);  // a printer, not the PC itself
    local += static_cast<uint32_t>(index);
    // A printer without an "OK" greeting (the job limit is reached, or a
    // handshake was lost) hangs up and calls again a moment later.
    for (int attempt = 0; attempt < 400 && !ok_; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (fd_ >= 0) qb::SockClose(fd_);
      fd_ = qb::TcpConnect(kLoopback, port, local);
      qb::SetBlocking(fd_, true);
      ok_ = qb::WaitReadable(fd_, 2000) && Read(4) == std::string("OK\0\x05", 4);
    }
  }
  ~Printer() { HangUp(); }
  void HangUp() {
    if (fd_ >= 0) qb::SockClose(fd_);
    fd_ = -1;
  }

  // Capability and parameter exchange for destination 1 with the long
  // parameter block, so that the document is completed at its data end.
  bool Negotiate() {
    Send(Be16(0x3400) + Be16(1) + Be16(0));
    if (Read(108).size() != 108) return false;
    std::string para = Be16(0x3402) + Be16(1) + Be16(0) + Be16(40);
    para.resize(540, '\0');
    para.replace(40, 10, "NOTE:bench");
    Send(para);
    const std::string reply = Read(12);
    return ok_ && reply.size() == 12 && reply[5] == 1;
  }
  void Header(uint16_t form, const std::string& name, const std::string& format, uint16_t width,
              uint16_t height, uint16_t resolution, uint16_t continuation) {
    std::string body(84, '\0');
    body.replace(0, 6, Be16(0x3001) + Be16(form) + Be16(36));
    body.replace(10, 6, Be16(resolution) + Be16(width) + Be16(height));
    body.replace(22, 2, Be16(1));
    body.replace(32, 4, Be16(continuation) + Be16(static_cast<uint16_t>(37 + format.size())));
    body.replace(36, format.size(), format);
    body.replace(37 + format.size(), name.size(), name);
    Send(body);
  }
  // The data in the largest packets the framing allows.
  void Data(const std::string& data) {
    for (size_t at = 0; at < data.size(); at += kMaxBody) Send(data.substr(at, kMaxBody));
  }
  bool Finish(uint16_t sum) {
    Send(Be16(0x3005) + Be16(sum));
    if (Read(8) != Be16(6) + Be16(0x3015) + Be16(1) + Be16(0)) return false;
    Send(Be16(0x3003) + Be16(0));
    return Read(8) == Be16(6) + Be16(0x3013) + Be16(1) + Be16(0);
  }
  void PageEnd() { Send(Be16(0x3002) + Be16(0)); }

 private:
  void Send(const std::string& body) {
    std::string packet = Be16(static_cast<uint16_t>(body.size())) + body;
    for (size_t sent = 0; sent < packet.size();) {
      long put = qb::SockSend(fd_, packet.data() + sent, packet.size() - sent);
      if (put <= 0) return;
      sent += static_cast<size_t>(put);
    }
  }
  std::string Read(size_t n) {
    std::string got(n, '\0');
    size_t have = 0;
    while (have < n) {
      long count = qb::SockRecv(fd_, got.data() + have, n - have);
      if (count <= 0) break;
      have += static_cast<size_t>(count);
    }
    got.resize(have);
    return got;
  }

  int fd_ = -1;
  bool ok_ = false;
};

// A page of text-like lines: short black runs on white, as scanned print
// gives the coder.
std::string TextPage(int width, int height) {
  const int bytes = width / 8;
  std::string page(static_cast<size_t>(bytes) * height, '\0');
  uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    if (y % 40 >= 28) continue;  // line spacing
    for (int x = bytes / 10; x < bytes * 9 / 10; ++x) {
      seed = seed * 1103515245 + 12345;
      if ((seed >> 16) % 3 == 0)
        page[static_cast<size_t>(y) * bytes + x] = static_cast<char>(seed >> 24);
    }
  }
  return page;
}

// CPU microseconds libtiff's CCITT G4 coder takes for `page`, coded `times`
// times into a TIFF: the reference for the receiver's own coder.
int64_t LibtiffG4Micros(const std::string& page, int width, int height, int times) {
  const std::string path = std::string("/tmp/qb_bench_doc_libtiff.tif");
  TIFFSetWarningHandler(nullptr);
  int64_t micros = 0;
  for (int i = 0; i < times; ++i) {
    std::string copy = page;  // libtiff may code in place
    const int64_t start = qb::ThreadCpuMicros();
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    TIFFWriteEncodedStrip(tiff, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
    TIFFClose(tiff);
    micros += qb::ThreadCpuMicros() - start;
  }
  std::remove(path.c_str());
  return micros;
}

// CPU microseconds the file system takes for one page file of `bytes`
// bytes in `folder`, made the way the receiver makes its page files, then
// written, closed, read back and deleted; the mean of `files` of them. The
// reference for how much of a page's cost is the file system's rather than
// the receiver's own: on ext4 without a journal, making a file costs more
// the more files were deleted in the minute before.
int64_t PageFileMicros(const std::string& folder, size_t bytes, int files) {
  qb::Env& env = qb::Env::Default();
  const std::string data(bytes, 'x');
  std::string back(bytes, '\0');
  int64_t micros = 0;
  for (int i = 0; i < files; ++i) {
    const std::string path = folder + "/qb_bench_page_" + std::to_string(i) + ".dat";
    const int64_t start = qb::ThreadCpuMicros();
    qb::PageFile out = qb::PageFile::OpenForCoder(env, path);
    out.Write(data.data(), data.size());
    out.Close();
    std::unique_ptr<qb::ReadableFile> in;
    size_t got = 0;
    if (env.OpenReadable(path, &in).ok()) in->ReadAt(0, back.data(), back.size(), &got);
    in.reset();
    env.Remove(path);
    micros += qb::ThreadCpuMicros() - start;
  }
  return micros / files;
}

// The office letter page at `dpi` as the bytes a printer sends, or empty.
std::string OfficePage(int dpi) {
  std::vector<qb::bench::Bitmap> pages = qb::bench::OfficePages(dpi);
  if (pages.empty()) return {};
  return std::string(pages[0].bits.begin(), pages[0].bits.end());
}

// range(0) pages of range(1) dpi A4 as raw lines coded into one MMR TIFF;
// range(2) 0: random text, 1: the office letter page. The time is the
// printer's: from its first byte to the data-end answer (receiver start and
// stop are not counted). The receiver's CPU time per page is reported next
// to libtiff's G4 coder on the same page, and to what one page file of the
// same size costs the file system of the page files (page_file_cpu_ms).
void BM_RawMmrDocument(benchmark::State& state) {
  const int pages = static_cast<int>(state.range(0));
  const int dpi = static_cast<int>(state.range(1));
  const int width = dpi == 600 ? 4960 : 1728, height = dpi == 600 ? 7016 : 2339;
  const uint16_t code = dpi == 600 ? 0x0600 : 0x0200;
  const std::string page = state.range(2) == 0 ? TextPage(width, height) : OfficePage(dpi);
  if (page.size() != static_cast<size_t>(width / 8) * height) {
    state.SkipWithError("the office pages cannot be made (Pillow, DejaVu fonts)");
    return;
  }
  long peak = 0;
  int64_t receiverMicros = 0;
  int64_t pageFileMicros = 0;
  for (auto _ : state) {
    RssSampler sampler;
    {
      Receiver receiver;
      Printer printer(receiver.port());
      const auto start = std::chrono::steady_clock::now();
      if (!printer.Negotiate()) state.SkipWithError("negotiation refused");
      for (int i = 0; i < pages; ++i) {
        printer.Header(0, "bench", "TIFF-G4MMR", static_cast<uint16_t>(width),
                       static_cast<uint16_t>(height), code, i == 0 ? 0 : 1);
        printer.Data(page);
        printer.PageEnd();
      }
      if (!printer.Finish(0)) state.SkipWithError("document refused");
      state.SetIterationTime(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      printer.HangUp();  // the receiver stops once every printer has gone
      receiver.Stop();
      receiverMicros += receiver.CpuMicros();
      if (receiver.FileCount() != 1) state.SkipWithError("no TIFF in the folder");
      // A few files suffice for the mean; each adds to what the next
      // document's files cost on a file system that looks past them.
      pageFileMicros += PageFileMicros(
          receiver.pageFolder(), 84 + receiver.StoredBytes() / static_cast<size_t>(pages), 10);
    }
    peak = std::max(peak, sampler.Stop());
  }
  const double sentPages = static_cast<double>(pages) * static_cast<double>(state.iterations());
  state.counters["pages/s"] = benchmark::Counter(sentPages, benchmark::Counter::kIsRate);
  state.counters["peak_rss_growth_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["receiver_cpu_ms/page"] = static_cast<double>(receiverMicros) / 1000.0 / sentPages;
  state.counters["page_file_cpu_ms"] =
      static_cast<double>(pageFileMicros) / 1000.0 / static_cast<double>(state.iterations());
  const int samples = std::min(pages, 10);
  state.counters["libtiff_g4_cpu_ms/page"] =
      static_cast<double>(LibtiffG4Micros(page, width, height, samples)) / 1000.0 / samples;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pages * page.size()));
}
BENCHMARK(BM_RawMmrDocument)
    ->Args({20, 600, 0})
    ->Args({200, 200, 0})
    ->Args({20, 600, 1})
    ->Args({200, 200, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

// A 50 MB TIFF by the file road, checked and stored unchanged.
void BM_TiffFile50MB(benchmark::State& state) {
  std::string tiff(
      "II*\0\x08\0\0\0\x01\0\x1A\x01\x05\0\x01\0\0\0\x1A\0\0\0\0\0\0\0\xC8\0\0\0\x01\0\0\0", 34);
  tiff.resize(50u << 20, 'x');
  uint16_t sum = 0;
  for (unsigned char c : tiff) sum = static_cast<uint16_t>(sum + c);
  for (auto _ : state) {
    Receiver receiver;
    Printer printer(receiver.port());
    if (!printer.Negotiate()) state.SkipWithError("negotiation refused");
    printer.Header(1, "big.tif", "TIFF", 0, 0, 0, 0);
    printer.Data(tiff);
    printer.PageEnd();
    if (!printer.Finish(sum)) state.SkipWithError("document refused");
    if (receiver.FileCount() != 1) state.SkipWithError("no file in the folder");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tiff.size()));
}
BENCHMARK(BM_TiffFile50MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Printers calling at once, each with a two-page A4 200 dpi raw document:
// as many as the connection table holds (110), ten more than the job limit,
// so that ten are told "busy" and call again, as printers do. The time is
// the printers': from the first call to the last data-end answer (receiver
// start, and the check of the stored files afterwards, are not counted).
void BM_HundredPrinters(benchmark::State& state) {
  const int kPrinters = static_cast<int>(state.range(0));
  const std::string page = TextPage(1728, 2339);
  long peak = 0;
  for (auto _ : state) {
    RssSampler sampler;
    std::atomic<int> delivered{0};
    {
      Receiver receiver;
      std::vector<std::thread> printers;
      const auto start = std::chrono::steady_clock::now();
      for (int p = 0; p < kPrinters; ++p) {
        printers.emplace_back([&, p] {
          Printer printer(receiver.port(), p);
          if (!printer.Negotiate()) return;
          for (int i = 0; i < 2; ++i) {
            printer.Header(0, "multi", "TIFF-G4MMR", 1728, 2339, 0x0200, 0);
            printer.Data(page);
            printer.PageEnd();
          }
          if (printer.Finish(0)) ++delivered;
        });
      }
      for (std::thread& t : printers) t.join();
      state.SetIterationTime(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      // Two files per document (one per page), none sharing a name.
      if (delivered != kPrinters || receiver.FileCount() != 2u * static_cast<size_t>(kPrinters)) {
        state.SkipWithError("a document is missing");
      } else if (!receiver.AllFilesEqual()) {
        state.SkipWithError("a stored page differs from what was sent");
      }
    }
    peak = std::max(peak, sampler.Stop());
  }
  state.counters["documents"] = kPrinters;
  state.counters["peak_rss_growth_MiB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_HundredPrinters)
    ->Arg(30)
    ->Arg(100)
    ->Arg(110)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
