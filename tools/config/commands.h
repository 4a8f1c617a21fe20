// The commands of quillbox-config; each returns the program's exit code.
#pragma once

#include "tools/config/options.h"

namespace qb::config_tool {

int RunStatus(const Invocation& invocation);
int RunDest(const Invocation& invocation);
int RunGet(const Invocation& invocation);
int RunSet(const Invocation& invocation);
int RunLog(const Invocation& invocation);
int RunWebUrl(const Invocation& invocation);

}  // namespace qb::config_tool
