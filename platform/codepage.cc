#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <cstdlib>
#include <vector>

#include "platform/places.h"

namespace qb {
namespace {

// One conversion with a descriptor opened for this call only: iconv
// descriptors carry shift state and must not be shared between threads.
bool Convert(const char* to, const char* from, const char* input, size_t inputBytes,
             std::vector<char>* output) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // Four output bytes per input byte covers every direction used here.
  output->assign(inputBytes * 4 + 8, '\0');
  char* in = const_cast<char*>(input);
  size_t inLeft = inputBytes;
  char* out = output->data();
  size_t outLeft = output->size();
  bool ok = ::iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  if (ok) ok = ::iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  if (!ok) return false;
  output->resize(output->size() - outLeft);
  return true;
}

}  // namespace

int AnsiCodePage() {
  std::string text = EnvironmentText("QUILLBOX_CODEPAGE");
  int value = std::atoi(text.c_str());
  return value > 0 ? value : kCodePageUtf8;
}

bool IsDoubleByteLead(unsigned char byte) {
  if (AnsiCodePage() != kCodePageJapanese) return false;
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool Cp932ToUtf16(std::string_view bytes, std::u16string* text) {
  std::vector<char> out;
  if (!Convert("UTF-16LE", "CP932", bytes.data(), bytes.size(), &out)) return false;
  text->assign(out.size() / 2, u'\0');
  for (size_t i = 0; i < text->size(); ++i) {
    (*text)[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                       (static_cast<unsigned char>(out[2 * i + 1]) << 8));
  }
  return true;
}

bool Utf16ToCp932(std::u16string_view text, std::string* bytes) {
  std::vector<char> in(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    in[2 * i] = static_cast<char>(text[i] & 0xFF);
    in[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  std::vector<char> out;
  if (!Convert("CP932", "UTF-16LE", in.data(), in.size(), &out)) return false;
  bytes->assign(out.begin(), out.end());
  return true;
}

bool Utf8ToCp932(std::string_view text, std::string* bytes) {
  std::vector<char> out;
  if (!Convert("CP932", "UTF-8", text.data(), text.size(), &out)) return false;
  bytes->assign(out.begin(), out.end());
  return true;
}

}  // namespace qb
