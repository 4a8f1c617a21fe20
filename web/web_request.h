// One HTTP request as the page's handlers see it, and their answer. The
// HTTP library parses the wire; these hold only what the handlers use, so
// the handlers can be driven without a socket (tests, fuzzing).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qb {

struct WebRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // without the query string, still percent-encoded
  std::map<std::string, std::string> query;  // decoded names and values
  std::string host;                          // the Host header
  std::string cookie;                        // the Cookie header as sent
  std::string csrfToken;                     // the X-CSRF-Token header
  std::string contentType;
  std::string body;
};

struct WebResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;

  static WebResponse Text(int status, std::string text) {
    WebResponse response;
    response.status = status;
    response.body = std::move(text);
    return response;
  }
};

// The decoded name=value pairs of a query string or a form body
// (application/x-www-form-urlencoded); a later name replaces an earlier.
std::map<std::string, std::string> ParseFormText(const std::string& text);
// %XX and '+' decoded; a broken escape stays as it is.
std::string DecodeFormComponent(const std::string& text);
// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace qb
