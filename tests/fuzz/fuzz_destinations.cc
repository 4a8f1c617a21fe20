// The destination list: the input is the whole list file. Lookups run for
// the numbers the seeds use, for the number of the first line and for the
// numbers that only a misread line could produce; a found destination's
// folder is listed as the folder browser would. The seeds name the folders
// kFolders, which the target creates (a lookup probes a folder by creating
// and removing a file in it). Inputs name any folder of the machine, so the
// lookups go through an Env that lets files be made only under kTop: the
// fuzzer never creates a file elsewhere, where another process (or another
// fuzz target watching its own folders) would see it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_root.h"
#include "platform/profile.h"
#include "storage/destinations.h"

namespace {

constexpr const char* kFolders[] = {"/tmp/qbfuzz-destinations/one",
                                    "/tmp/qbfuzz-destinations/one/sub",
                                    "/tmp/qbfuzz-destinations/two"};

constexpr const char* kTop = "/tmp/qbfuzz-destinations/";

class ConfinedEnv : public qb::Env {
 public:
  qb::FileResult NewWritableFile(const std::string& path, qb::CreateMode mode,
                                 std::unique_ptr<qb::WritableFile>* file) override {
    if (!Inside(path)) return qb::FileResult::Failed(qb::FileError::kDenied);
    return Env::NewWritableFile(path, mode, file);
  }
  qb::FileResult NewUnbufferedFile(const std::string& path, qb::CreateMode mode,
                                   std::unique_ptr<qb::WritableFile>* file) override {
    if (!Inside(path)) return qb::FileResult::Failed(qb::FileError::kDenied);
    return Env::NewUnbufferedFile(path, mode, file);
  }
  qb::FileResult NewStreamFile(const std::string& path,
                               std::unique_ptr<qb::WritableFile>* file) override {
    if (!Inside(path)) return qb::FileResult::Failed(qb::FileError::kDenied);
    return Env::NewStreamFile(path, file);
  }
  qb::FileResult Remove(const std::string& path) override {
    if (!Inside(path)) return qb::FileResult::Failed(qb::FileError::kDenied);
    return Env::Remove(path);
  }
  qb::FileResult CreateFolder(const std::string& path) override {
    if (!Inside(path)) return qb::FileResult::Failed(qb::FileError::kDenied);
    return Env::CreateFolder(path);
  }

 private:
  // Judged on the path's text with ".." taken out; the folders under kTop
  // hold no links.
  static bool Inside(const std::string& path) {
    const std::string normal = std::filesystem::path(path).lexically_normal().string();
    return normal.rfind(kTop, 0) == 0;
  }
};

ConfinedEnv& Files() {
  static ConfinedEnv* env = new ConfinedEnv;
  return *env;
}

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot* root = [] {
    for (const char* folder : kFolders) std::filesystem::create_directories(folder);
    return new qb::fuzz::FuzzRoot("[MANAGEMENT]\n");
  }();
  return *root;
}

void Lookup(uint16_t number) {
  qb::DestinationRecord record;
  const bool found = qb::LookupDestination(number, &record, Files());
  if (!found) return;
  // A usable destination has a folder, and the fields hold no separators.
  if (record.folder.empty()) std::abort();
  for (const std::string* field : {&record.folder, &record.accessCode, &record.extensionLibrary}) {
    if (field->find(';') != std::string::npos) std::abort();
  }
  if (qb::ParseLeadingInt(record.numberText.c_str()) != number) std::abort();
  qb::ListSubfolders(record.folder, Files());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qb::fuzz::FuzzRoot::WriteFile(Root().DestinationList(), data, size);
  for (uint16_t number : {0, 1, 2, 3, 65535}) Lookup(number);
  std::string rest(reinterpret_cast<const char*>(data), size);
  Lookup(static_cast<uint16_t>(qb::ParseLeadingInt(rest.c_str())));
  // Splitting always makes progress and never keeps a separator.
  for (int fields = 0; !rest.empty() && fields < 64; ++fields) {
    const size_t before = rest.size();
    if (qb::SplitField(&rest).find(';') != std::string::npos || rest.size() >= before) {
      std::abort();
    }
  }
  return 0;
}
