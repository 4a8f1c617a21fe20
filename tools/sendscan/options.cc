#include "tools/sendscan/options.h"

#include <cstdlib>
#include <functional>
#include <utility>

namespace qb::sendscan {

const char kUsage[] =
    "usage: quillbox-sendscan [options] COMMAND ...\n"
    "Plays a networked printer against a scan receiver.\n"
    "commands:\n"
    "  cap                      ask the job port's capability (--direct: the direct port's)\n"
    "  check DEST               folder check of a destination over the direct port\n"
    "                           (--job-port: capability and parameters on the job port)\n"
    "  dir-name DEST            a destination's folder (direct port)\n"
    "  dir-list PATH            the sub-folders of a folder (direct port)\n"
    "  send DEST FILE...        send TIFF/JPEG/PDF files as one document; each file must pass\n"
    "                           the receiver's checks first (--force: send it anyway)\n"
    "  raw DEST [BITMAP...]     send PBM/PGM bitmaps (default: built-in test pages) as raw lines\n"
    "  make-pdf OUT [BITMAP...] write a PDF that the receiver's checks accept, from PBM/PGM\n"
    "                           bitmaps or the built-in test page (--pages, --dpi, --width)\n"
    "  make-tiff OUT [BITMAP...] the same as a fax-coded TIFF\n"
    "options:\n"
    "  --host ADDR              receiver (default 127.0.0.1)\n"
    "  --source ADDR            local address to connect from (default 127.0.0.2; \"\" = any)\n"
    "  --timeout SEC            wait for each reply (default 10)\n"
    "  --major N --minor N      protocol version (default 1.0 on the job port, 3.0 direct)\n"
    "  --key N                  the printer's key number on the direct port\n"
    "  --para                   use the short parameter request (no name, no meta data)\n"
    "  --doc-name NAME          document name in the image header\n"
    "  --file-name NAME         file name, sent in an attribute meta-data record\n"
    "  --sub-folder NAME        sub-folder, sent in an attribute meta-data record\n"
    "  --sender NAME            sender name field (16 characters)\n"
    "  --skan-sender NAME       sender-name meta-data record\n"
    "  --meta-file PATH         meta-data block taken as it is from a file\n"
    "  --force                  send files that the receiver's checks would drop\n"
    "  --format NAME            raw format: TIFF-G4MMR (default), PDF-G4MMR, TIFF-G3MH\n"
    "  --dpi N                  200 (default), 300, 400 or 600\n"
    "  --pages N                pages of the raw document (bitmaps are repeated)\n"
    "  --per-page               one file per page\n"
    "  --width N --height N     size of the built-in test page (default 1728 x 2200)\n"
    "  --save-pages PREFIX      also write the sent pages as PREFIX<n>.pbm\n"
    "  --checksum N             send this checksum instead of the true one\n"
    "  --drop-after N           drop the connection after N bytes of image data\n"
    "  -h, --help               print this help;  --version  print the version\n"
    "exit codes: 0 everything accepted (make-*: file written), 1 refused, cancelled, no reply\n"
    "or the document did not land, 2 usage or local fault, 3 a file would not pass the\n"
    "receiver's checks (nothing sent)\n";

namespace {

bool Number(const std::string& text, long long low, long long high, long long* value) {
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  struct TextOption {
    const char* name;
    std::string* target;
  };
  const TextOption texts[] = {
      {"--host", &o->host},
      {"--source", &o->source},
      {"--doc-name", &o->documentName},
      {"--file-name", &o->fileName},
      {"--sub-folder", &o->subFolder},
      {"--sender", &o->senderName},
      {"--skan-sender", &o->senderRecord},
      {"--meta-file", &o->metaFile},
      {"--format", &o->format},
      {"--save-pages", &o->savePages},
  };
  struct NumberOption {
    const char* name;
    long long low, high;
    std::function<void(long long)> store;
  };
  const NumberOption numbers[] = {
      {"--timeout", 1, 3600, [o](long long n) { o->timeoutMs = static_cast<int>(n * 1000); }},
      {"--major", 0, 65535, [o](long long n) { o->major = static_cast<int>(n); }},
      {"--minor", 0, 65535, [o](long long n) { o->minor = static_cast<int>(n); }},
      {"--key", 0, 65535, [o](long long n) { o->clientKey = static_cast<uint16_t>(n); }},
      {"--dpi", 100, 2400, [o](long long n) { o->dpi = static_cast<int>(n); }},
      {"--pages", 1, 100000, [o](long long n) { o->pages = static_cast<int>(n); }},
      {"--width", 1, 65535, [o](long long n) { o->width = static_cast<int>(n); }},
      {"--height", 1, 65535, [o](long long n) { o->height = static_cast<int>(n); }},
      {"--checksum", 0, 65535, [o](long long n) { o->checksum = n; }},
      {"--drop-after", 0, 1LL << 40, [o](long long n) { o->dropAfter = n; }},
  };
  const std::pair<const char*, bool*> flags[] = {
      {"--direct", &o->direct}, {"--job-port", &o->jobPort},
      {"--para", &o->usePara},  {"--per-page", &o->perPage},
      {"--force", &o->force},   {"--help", &o->help},
      {"-h", &o->help},         {"--version", &o->version},
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool* flag = nullptr;
    for (const auto& [name, target] : flags) {
      if (arg == name) flag = target;
    }
    if (flag != nullptr) {
      *flag = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg.rfind("--", 0) != 0) {
      *error = "unknown option " + arg;
      return false;
    }
    if (arg.rfind("--", 0) != 0) {
      if (o->command.empty()) {
        o->command = arg;
      } else {
        o->args.push_back(arg);
      }
      continue;
    }
    std::string* text = nullptr;
    const NumberOption* number = nullptr;
    for (const TextOption& option : texts) {
      if (arg == option.name) text = option.target;
    }
    for (const NumberOption& option : numbers) {
      if (arg == option.name) number = &option;
    }
    if (text == nullptr && number == nullptr) {
      *error = "unknown option " + arg;
      return false;
    }
    if (i + 1 >= argc) {
      *error = arg + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    if (text != nullptr) {
      *text = value;
      continue;
    }
    long long n = 0;
    if (!Number(value, number->low, number->high, &n)) {
      *error = arg + ": " + value + " is not a number from " + std::to_string(number->low) +
               " to " + std::to_string(number->high);
      return false;
    }
    number->store(n);
  }
  return true;
}

}  // namespace qb::sendscan
