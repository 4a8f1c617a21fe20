#include "ftp/access_codes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/crypto.h"
#include "platform/global_lock.h"
#include "storage/data_files.h"
#include "storage/destinations.h"

namespace qb {

bool AccessCodeOpensAny(const char* code) {
  GlobalLockGuard hold;
  std::FILE* list = OpenSharedDataFile(kDestinationListName, "rt");
  if (list == nullptr) return false;
  const size_t length = std::strlen(code);
  bool opens = false;
  char line[520];  // as the lookup reads the list
  while (!opens && std::fgets(line, sizeof line, list) != nullptr) {
    std::string rest = line;
    const std::string number = SplitField(&rest);
    SplitField(&rest);  // folder
    SplitField(&rest);  // field 3
    const std::string accessCode = SplitField(&rest);
    if (number.empty()) continue;
    opens = accessCode.empty() ||
            (accessCode.size() == length && ConstantTimeEqual(accessCode.data(), code, length));
  }
  std::fclose(list);
  return opens;
}

}  // namespace qb
