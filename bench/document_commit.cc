// What putting a received document in place costs: a file written under its
// staging name and committed (fsync of the file, rename without replacing,
// fsync of the folder), against the same file written straight under its
// name with no flush, in the same run and folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "storage/document_files.h"
#include "storage/name_reservations.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/var/tmp/qbcommit.XXXXXX";  // a disk, not a memory file system
    std::string made = ::mkdtemp(pattern);
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return made;
  }();
  return folder;
}

void Write(const std::string& path, const std::string& data) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(data.data(), 1, data.size(), file);
  std::fclose(file);
}

void Clear() {
  for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
    std::filesystem::remove(entry.path());
  }
}

void BM_StagedAndCommitted(benchmark::State& state) {
  const std::string data(static_cast<size_t>(state.range(0)), 'x');
  int n = 0;
  for (auto _ : state) {
    qb::DocumentFiles files(qb::Env::Default(), qb::NameReservations::NewOwner());
    Write(files.Begin(Folder() + "/doc" + std::to_string(n++) + ".tif"), data);
    if (!files.Commit(false, nullptr)) state.SkipWithError("commit failed");
  }
  Clear();
}
BENCHMARK(BM_StagedAndCommitted)->Arg(500 << 10)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

void BM_WrittenInPlaceNoFlush(benchmark::State& state) {
  const std::string data(static_cast<size_t>(state.range(0)), 'x');
  int n = 0;
  for (auto _ : state) Write(Folder() + "/doc" + std::to_string(n++) + ".tif", data);
  Clear();
}
BENCHMARK(BM_WrittenInPlaceNoFlush)->Arg(500 << 10)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
