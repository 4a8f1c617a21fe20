// The ANSI code page of the program and conversions between code page 932
// (Shift-JIS as Windows uses it) and UTF-16. Names and texts that scanners
// send are byte strings in this code page; under 932 a byte after a lead
// byte may look like "\" or "_" and must never be taken for one.
#pragma once

#include <string>
#include <string_view>

namespace qb {

constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageJapanese = 932;

// QUILLBOX_CODEPAGE, read at each call; 65001 (UTF-8) when unset or not a
// positive number.
int AnsiCodePage();

// True when the ANSI code page is 932 and `byte` starts a double-byte
// character there. Under every other code page bytes are single characters.
bool IsDoubleByteLead(unsigned char byte);

// Code page 932 bytes to UTF-16 and back. False (output unspecified) when
// the input holds a sequence that the other side cannot represent.
bool Cp932ToUtf16(std::string_view bytes, std::u16string* text);
bool Utf16ToCp932(std::u16string_view text, std::string* bytes);
// UTF-8 (the program's own texts) to code page 932.
bool Utf8ToCp932(std::string_view text, std::string* bytes);

}  // namespace qb
