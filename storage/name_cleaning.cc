#include "storage/name_cleaning.h"

#include <cstring>

#include "platform/codepage.h"

namespace qb {
namespace {

constexpr char kInvalidNameChars[] = "\\/:,;*?|\"<>";
// The conversion buffer of the original rule: longer names stay unchanged.
constexpr size_t kMaxWideName = 512;

bool IsInvalidNameChar(char16_t c) {
  return c != 0 && c < 0x80 && std::strchr(kInvalidNameChars, static_cast<char>(c)) != nullptr;
}

void ReplaceAsCp932(std::string* name) {
  std::u16string wide;
  if (!Cp932ToUtf16(*name, &wide) || wide.size() > kMaxWideName) return;
  for (char16_t& c : wide) {
    if (IsInvalidNameChar(c)) c = u'_';
  }
  std::string back;
  if (!Utf16ToCp932(wide, &back)) return;
  // The replacements are single bytes for single bytes, so the length holds;
  // the guard keeps a caller's buffer safe should a converter disagree.
  if (back.size() == name->size()) *name = back;
}

}  // namespace

void ReplaceInvalidNameChars(std::string* name) {
  if (AnsiCodePage() == kCodePageJapanese) {
    ReplaceAsCp932(name);
    return;
  }
  for (char& c : *name) {
    if (IsInvalidNameChar(static_cast<unsigned char>(c))) c = '_';
  }
}

void ReplaceInvalidNameChars(char* name) {
  std::string text = name;
  ReplaceInvalidNameChars(&text);
  std::memcpy(name, text.data(), text.size());
}

void NeutraliseParentRefs(std::string* text) {
  std::string& t = *text;
  for (size_t i = 0; i + 3 <= t.size(); ++i) {
    if (t[i] == '.' && t[i + 1] == '.' && (t[i + 2] == '\\' || t[i + 2] == '/')) {
      t.replace(i, 3, "xxx");
      i += 2;
    }
  }
  size_t n = t.size();
  bool endsWithParent = n >= 2 && t[n - 1] == '.' && t[n - 2] == '.' &&
                        (n == 2 || t[n - 3] == '/' || t[n - 3] == '\\');
  if (endsWithParent) t.replace(n - 2, 2, "xx");
}

void NeutraliseParentRefs(char* text) {
  std::string copy = text;
  NeutraliseParentRefs(&copy);
  std::memcpy(text, copy.data(), copy.size());
}

namespace {

bool IsDroppedFromNetworkText(unsigned char c) { return c < 0x20 || c == 0x7F || c == ';'; }

}  // namespace

void RemoveControlsAndSemicolons(std::string* text) {
  std::erase_if(*text, [](char c) { return IsDroppedFromNetworkText(static_cast<unsigned char>(c)); });
}

void RemoveControlsAndSemicolons(char* text) {
  char* kept = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if (!IsDroppedFromNetworkText(static_cast<unsigned char>(*p))) *kept++ = *p;
  }
  *kept = '\0';
}

}  // namespace qb
