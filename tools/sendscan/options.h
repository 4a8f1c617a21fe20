// The command line of quillbox-sendscan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::sendscan {

struct Options {
  std::string command;            // cap, check, dir-name, dir-list, send, raw, make-pdf, make-tiff
  std::vector<std::string> args;  // the command's operands
  bool help = false;
  bool version = false;
  bool force = false;  // send files even when the receiver's checks would drop them
  std::string host = "127.0.0.1";
  std::string source = "127.0.0.2";
  int timeoutMs = 10000;
  bool direct = false;   // cap: ask the direct port
  bool jobPort = false;  // check: negotiate on the job port instead
  bool usePara = false;  // PARA instead of PARA2 on the job port
  int major = -1;        // -1: 1 on the job port, 3 on the direct port
  int minor = 0;
  uint16_t clientKey = 4660;
  // Job parameters.
  std::string documentName;  // image header name; "" = file name / "SCAN"
  std::string fileName;      // attribute record: the job's file name
  std::string subFolder;     // attribute record: sub-folder
  std::string senderName;    // the 16-character name field
  std::string senderRecord;  // a "QNN_SKAN:" record with this name
  std::string metaFile;      // a meta-data block read from a file
  // Raw road.
  std::string format = "TIFF-G4MMR";
  int dpi = 200;
  int pages = 0;  // 0: one per bitmap, or one test page
  bool perPage = false;
  int width = 1728;
  int height = 2200;
  std::string savePages;  // prefix for the test pages as PBM files
  // Test levers.
  long long checksum = -1;   // -1: the true sum
  long long dropAfter = -1;  // close after this many image bytes
};

// Parses argv; false with `error` set on a usage fault.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

extern const char kUsage[];

}  // namespace qb::sendscan
