#include "platform/system_log.h"

#include <syslog.h>

#include <cstdio>

namespace qb {

void ShowMessageBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  ::openlog("Quillbox", LOG_PID, LOG_USER);
  ::syslog(LOG_NOTICE, "%s", text);
  ::closelog();
}

void LogSystemError(const char* text) {
  ::openlog("Quillbox", LOG_PID, LOG_USER);
  ::syslog(LOG_ERR, "%s", text);
  ::closelog();
}

}  // namespace qb
