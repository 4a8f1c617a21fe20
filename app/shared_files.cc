#include "app/shared_files.h"

#include <string>
#include <vector>

#include "config/folders.h"
#include "nameservice/host_table.h"
#include "platform/env.h"
#include "platform/local_trust.h"
#include "platform/places.h"
#include "platform/trace.h"
#include "storage/data_files.h"

namespace qb {
namespace {

void TightenOne(const std::string& path) {
  switch (TightenOtherWrite(path)) {
    case Tighten::kTightened:
      TraceLog(" Write access of other accounts removed: %s", path.c_str());
      break;
    case Tighten::kFailed:
      TraceLog(" Cannot remove the write access of other accounts: %s", path.c_str());
      break;
    case Tighten::kAlreadyTight:
      break;
  }
}

// The folder and the entries in it, one level deep.
void TightenFolder(Env& env, const std::string& folder) {
  TightenOne(folder);
  std::vector<FolderEntry> entries;
  if (!env.ListFolder(folder, &entries)) return;
  for (const FolderEntry& entry : entries) TightenOne(folder + "/" + entry.name);
}

}  // namespace

void TightenSharedFiles(Env& env) {
  TightenOne(SettingsPath());
  TightenOne(SharedDataFilePath(kDestinationListName));
  TightenOne(SharedDataFilePath(kReceiveLogName));
  TightenOne(HostTablePath());
  TightenFolder(env, RunFolder());
  TightenFolder(env, RunFolder() + "/windows");
}

}  // namespace qb
