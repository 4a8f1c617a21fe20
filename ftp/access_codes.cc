#include "ftp/access_codes.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/global_lock.h"
#include "storage/data_files.h"
#include "storage/destinations.h"

namespace qb {

bool AccessCodeOpensAny(const char* code, Env& env) {
  GlobalLockGuard hold;
  std::vector<std::string> lines;
  if (!ReadSharedDataLines(env, kDestinationListName, 520, &lines)) return false;  // as the lookup reads it
  const size_t length = std::strlen(code);
  bool opens = false;
  for (const std::string& line : lines) {
    if (opens) break;
    std::string rest = line;
    const std::string number = SplitField(&rest);
    SplitField(&rest);  // folder
    SplitField(&rest);  // field 3
    const std::string accessCode = SplitField(&rest);
    if (number.empty()) continue;
    opens = accessCode.empty() ||
            (accessCode.size() == length && ConstantTimeEqual(accessCode.data(), code, length));
  }
  return opens;
}

}  // namespace qb
