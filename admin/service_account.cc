#include "admin/service_account.h"

#include "config/folders.h"
#include "platform/account_access.h"
#include "platform/places.h"

namespace qb {

ServiceAccount FindServiceAccount() {
  ServiceAccount account;
  uint32_t dataGroup = 0;
  if (!OwnerOf(DataFolder(), &account.uid, &dataGroup)) {
    // No data folder yet: whoever starts the receiver here makes it.
    account.uid = CurrentAccount();
    dataGroup = CurrentGroup();
  }
  // The run-time folder's group is the program's group once a receiver
  // ran; before that the data folder's group is the best guess.
  uint32_t runOwner = 0;
  if (!OwnerOf(RootPrefix() + "/run/quillbox", &runOwner, &account.gid)) account.gid = dataGroup;
  account.name = AccountName(account.uid);
  account.group = GroupName(account.gid);
  return account;
}

}  // namespace qb
