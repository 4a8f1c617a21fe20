#include "fuzz_root.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "config/folders.h"

namespace qb::fuzz {
namespace fs = std::filesystem;
namespace {

// The targets keep their roots for the whole run and never destroy them,
// so each root is also removed when the process exits normally (not after
// a crash, whose root is worth a look).
std::vector<std::string>& RootsToRemove() {
  static auto* roots = new std::vector<std::string>;
  return *roots;
}

void RemoveRootsAtExit(const std::string& root) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    std::atexit([] {
      for (const std::string& path : RootsToRemove()) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
      }
    });
  });
  RootsToRemove().push_back(root);
}

}  // namespace

FuzzRoot::FuzzRoot(const std::string& settings) {
  // A memory file system when there is one: every conversation creates,
  // rewrites and deletes files, which on a disk costs far more than the
  // code under test.
  std::string memory = "/dev/shm/qbfuzz.XXXXXX";
  std::string disk = "/tmp/qbfuzz.XXXXXX";
  if (::mkdtemp(memory.data()) != nullptr) {
    root_ = memory;
  } else if (::mkdtemp(disk.data()) != nullptr) {
    root_ = disk;
  } else {
    std::abort();
  }
  RemoveRootsAtExit(root_);
  ::setenv("QUILLBOX_ROOT", root_.c_str(), 1);
  ::unsetenv("QUILLBOX_OS_GENERATION");
  fs::create_directories(DataDir());
  fs::create_directories(root_ + "/etc");
  fs::create_directories(TempFolder());
  fs::create_directories(Destination(1) + "/sub");
  fs::create_directories(Destination(2));
  WriteFile(SettingsFile(), settings);
  WriteFile(DestinationList(), "1;" + Destination(1) + ";Front desk;;\n2;" + Destination(2) +
                                   ";Accounts;1234;\n3;" + Destination(3) + ";Gone;;\n");
  ::setenv("TMP", TempFolder().c_str(), 1);
  LocateSettingsFile(qb::Env::Default());
  InitTempFolder();
  InitConfFolder();
}

FuzzRoot::~FuzzRoot() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string FuzzRoot::Destination(int number) const {
  return root_ + "/srv/dest" + std::to_string(number);
}

void FuzzRoot::WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

void FuzzRoot::WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void FuzzRoot::ClearDocuments() const {
  const std::string keep[] = {Destination(1) + "/sub"};
  for (const std::string& folder :
       {Destination(1), Destination(1) + "/sub", Destination(2), TempFolder()}) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (it->path() == keep[0]) continue;
      std::error_code ignored;
      fs::remove_all(it->path(), ignored);
    }
  }
}

}  // namespace qb::fuzz
