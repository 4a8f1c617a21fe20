#include "storage/confined_folder.h"

#include "platform/folder_beneath.h"

namespace qb {
namespace {

// "a//./b/" as "a/b": the text appended is the one that was looked up.
std::string Normalised(const std::string& subFolder) {
  std::string out;
  size_t start = 0;
  while (start <= subFolder.size()) {
    size_t end = subFolder.find('/', start);
    if (end == std::string::npos) end = subFolder.size();
    const std::string part = subFolder.substr(start, end - start);
    if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string SubFolderBelow(const std::string& folder, const std::string& subFolder, bool* refused) {
  *refused = false;
  const std::string sub = Normalised(subFolder);
  if (sub.empty()) return folder;
  // Deliberately stricter than the folder text alone: a link on the way is
  // refused even when it points inside, since the path is used by name
  // later and a link can be changed meanwhile.
  if (LookUpFolderBeneath(folder, subFolder) == BeneathLookup::kRefused) {
    *refused = true;
    return folder;
  }
  return folder + "/" + sub;
}

bool IsRealFolderBelow(const std::string& folder, const std::string& subFolder) {
  return LookUpFolderBeneath(folder, subFolder) == BeneathLookup::kFolder;
}

}  // namespace qb
