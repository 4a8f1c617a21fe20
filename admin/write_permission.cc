#include "admin/write_permission.h"

#include "platform/account_access.h"
#include "platform/files.h"
#include "platform/folder_access.h"

namespace qb {

Outcome CheckMayWrite(const std::string& path) {
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!IsDirectory(folder)) {
    return Outcome::Refused(Refusal::kFailed,
                            "the data folder " + folder + " does not exist (is the receiver installed, "
                            "or QUILLBOX_ROOT set to the right root?)");
  }
  if (CanCreateInFolder(folder)) return Outcome::Done();
  const uint32_t self = CurrentAccount();
  uint32_t owner = 0, group = 0;
  OwnerOf(folder, &owner, &group);
  return Outcome::Refused(Refusal::kNotPermitted,
                          "user " + AccountName(self) + " may not change files in " + folder,
                          "run it with sudo, or as a member of group " + GroupName(group) +
                              " (adduser " + AccountName(self) + " " + GroupName(group) +
                              ", then log in again)");
}

}  // namespace qb
