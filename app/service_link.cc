#include "app/service_link.h"

#include <cstring>
#include <string>

#include "platform/service_manager.h"
#include "platform/system_log.h"
#include "platform/trace.h"

namespace qb {
namespace {

constexpr char kServiceName[] = "QBXSVC";

void ShowServiceError(int error) {
  std::string text =
      "The companion service could not be controlled (error " + std::to_string(error) + ").";
  ShowMessageBox(text.c_str(), "Quillbox");
}

// The message box and the trace of a failed start or stop (`action` is
// the word the trace uses).
void ReportServiceFailure(int result, const char* action) {
  ShowServiceError(result);
  if (result == kErrorNoServiceManager) {
    TraceLog("--- !! Can not OPEN SCM !!--");
  } else if (result == kErrorServiceDoesNotExist) {
    TraceLog("--- !! Can not OPEN service !!--");
  } else {
    TraceLog("--- !! Can not %s service(%d) !!--", action, result);
  }
}

}  // namespace

bool QueryCompanionStartType(int* startType, int* error) {
  int result = QueryServiceStartType(kServiceName, startType);
  if (result != 0) {
    *error = result;
    if (result == kErrorNoServiceManager) {
      TraceLog("--- !! Can not OPEN SCM !!--");
    } else if (result == kErrorServiceDoesNotExist) {
      TraceLog("--- !! Can not OPEN service !!--");
    } else {
      TraceLog("--- !! Can not Query Config(%d) !!--", result);
    }
    return false;
  }
  if (*startType == 2) {
    TraceLog("--- !! Service is Auto Start !!--");
  } else if (*startType == 3) {
    TraceLog("--- !! Service is Manual Start !!--");
  } else {
    TraceLog("--- !! Service is Mukou !!--");
  }
  return true;
}

bool IsCompanionServiceRunning() {
  bool running = false;
  int result = QueryServiceRunning(kServiceName, &running);
  if (result == kErrorNoServiceManager) TraceLog("--- !! Can not OPEN SCM !!--");
  if (result == kErrorServiceDoesNotExist) TraceLog("--- !! Can not OPEN service !!--");
  return result == 0 && running;
}

bool StartCompanionService() {
  int result = StartServiceUnit(kServiceName);
  if (result == 0) {
    TraceLog("--- !! Strart service OK !!--");
    return true;
  }
  ReportServiceFailure(result, "Strart");
  return false;
}

bool StopCompanionService() {
  bool alreadyStopped = false;
  int result = StopServiceUnit(kServiceName, &alreadyStopped);
  if (result == 0) {
    TraceLog("--- !! Stop service OK !!--");
    return true;
  }
  if (alreadyStopped) return true;
  ReportServiceFailure(result, "Stop");
  return false;
}

}  // namespace qb
