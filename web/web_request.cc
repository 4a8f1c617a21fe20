#include "web/web_request.h"

namespace qb {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeFormComponent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::map<std::string, std::string> ParseFormText(const std::string& text) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    if (!pair.empty()) {
      const size_t equals = pair.find('=');
      const std::string name = DecodeFormComponent(pair.substr(0, equals));
      fields[name] = equals == std::string::npos ? "" : DecodeFormComponent(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return fields;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
    size_t end = header.find(';', at);
    if (end == std::string::npos) end = header.size();
    const std::string pair = header.substr(at, end - at);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos && pair.compare(0, equals, name) == 0 && equals == name.size()) {
      return pair.substr(equals + 1);
    }
    at = end + 1;
  }
  return {};
}

}  // namespace qb
