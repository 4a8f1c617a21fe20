#include "platform/places.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/local_trust.h"

namespace qb {
namespace {

void MakeFolders(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string part = path.substr(0, pos);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
  }
}

}  // namespace

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string RootPrefix() {
  std::string root = EnvironmentText("QUILLBOX_ROOT");
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") root.clear();
  return root;
}

std::string WindowsDirectory() { return RootPrefix() + "/etc"; }
std::string CommonAppDataFolder() { return RootPrefix() + "/var/lib"; }
std::string CommonDocumentsFolder() { return RootPrefix() + "/srv"; }
std::string TraceFilePath() { return RootPrefix() + "/tmp/qbxLog.log"; }

std::string RunFolder() {
  std::string folder = RootPrefix() + "/run/quillbox";
  MakeFolders(RootPrefix() + "/run");
  MakeGroupFolder(folder);
  return folder;
}

void MakeGroupFolder(const std::string& path) {
  // mkdir leaves out the set-group-id bit and obeys the umask: the mode is
  // given afterwards, only to a folder made here.
  if (::mkdir(path.c_str(), kGroupFolderMode) == 0) ::chmod(path.c_str(), kGroupFolderMode);
}

int SystemOsGeneration() {
  std::string text = EnvironmentText("QUILLBOX_OS_GENERATION");
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '3') return text[0] - '0';
  return 2;
}

std::string ExecutableFolder() {
  char path[4096];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  std::string text(path, static_cast<size_t>(length));
  size_t slash = text.rfind('/');
  return slash == std::string::npos ? std::string("./") : text.substr(0, slash + 1);
}

}  // namespace qb
