#include "web/web_app.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "web/web_page.h"
#include "web/web_views.h"

namespace qb {
namespace {

using nlohmann::json;

// Changes come as small forms; anything larger is not one of ours.
constexpr size_t kMaxFormBytes = 16384;

WebResponse Json(const json& value, int status = 200) {
  WebResponse response;
  response.status = status;
  response.contentType = "application/json";
  response.body = value.dump(-1, ' ', false, json::error_handler_t::replace);
  return response;
}

WebResponse Refused(int status, const std::string& reason) {
  return Json(json{{"ok", false}, {"reason", reason}}, status);
}

std::string QueryValue(const WebRequest& request, const char* name) {
  const auto found = request.query.find(name);
  return found == request.query.end() ? std::string() : found->second;
}

}  // namespace

WebApp::WebApp(Env& env, WebAuth& auth, ThumbnailCache& thumbnails, WebAppOptions options)
    : env_(env), auth_(auth), thumbnails_(thumbnails), options_(std::move(options)) {}

WebResponse WebApp::Handle(const WebRequest& request) {
  WebResponse response;
  const int64_t now = env_.WallSeconds();
  if (!options_.hosts.empty() && options_.hosts.count(request.host) == 0) {
    response = WebResponse::Text(421, "This page answers only at its own address.\n");
  } else if (request.method == "GET" && request.path == "/" && request.query.count("token") != 0) {
    response = SignIn(request, now);
  } else {
    const std::string csrf = auth_.SessionCsrf(request.cookie, now);
    if (csrf.empty()) {
      response = request.path == "/" ? SignInPage() : Refused(401, "sign in first");
      response.status = 401;
    } else if (request.method == "POST" &&
               !auth_.ChangeAllowed(request.cookie, request.csrfToken, now)) {
      response = Refused(403, "the change lacks this page's CSRF token");
    } else {
      response = Authorised(request, csrf);
    }
  }
  // Never framed by another site, never sniffed, never cached, and the
  // address (which may hold the token) never sent on.
  response.headers.emplace_back("X-Frame-Options", "DENY");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
  response.headers.emplace_back("Cache-Control", "no-store");
  response.headers.emplace_back("Content-Security-Policy",
                                "default-src 'self'; img-src 'self'; object-src 'none'; "
                                "frame-ancestors 'none'; base-uri 'none'; form-action 'self'");
  return response;
}

// The address with the token: a session starts, and the browser goes on
// to the page's plain address, so the token leaves its address bar.
WebResponse WebApp::SignIn(const WebRequest& request, int64_t now) {
  const std::string session = auth_.StartSession(QueryValue(request, "token"), now);
  if (session.empty()) {
    WebResponse response = SignInPage();
    response.status = 401;
    return response;
  }
  WebResponse response = WebResponse::Text(303, "Signed in.\n");
  response.headers.emplace_back("Location", "/");
  response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + session +
                                                  "; Path=/; HttpOnly; SameSite=Strict" +
                                                  (options_.secure ? "; Secure" : ""));
  return response;
}

WebResponse WebApp::Authorised(const WebRequest& request, const std::string& csrf) {
  const std::string& path = request.path;
  if (request.method == "GET") {
    if (path == "/") return DashboardPage(csrf);
    if (path == "/app.js") return PageScript();
    if (path == "/app.css") return PageStyle();
    if (path == "/api/state") return Json(StateView(env_, thumbnails_));
    if (path == "/api/log") return Json(LogView(env_, QueryValue(request, "q")));
    if (path == "/api/settings") return Json(SettingsView());
    if (path == "/api/destinations") return Json(DestinationsView(env_));
    if (path == "/thumb") return Document(QueryValue(request, "id"), true);
    if (path == "/file") return Document(QueryValue(request, "id"), false);
    return Refused(404, "no such page");
  }
  if (request.method == "POST") {
    if (request.body.size() > kMaxFormBytes) return Refused(413, "form too large");
    if (path == "/api/destinations") return ChangeDestination(request);
    if (path == "/api/settings") return ChangeSetting(request);
    return Refused(404, "no such page");
  }
  return Refused(405, "method not allowed");
}

WebResponse WebApp::Document(const std::string& id, bool thumbnail) {
  const std::string path = DocumentPath(env_, id);
  if (path.empty()) return Refused(404, "no such document");
  WebResponse response;
  if (thumbnail) {
    if (thumbnails_.Ask(id, path) != ThumbnailState::kReady || !thumbnails_.Read(id, &response.body)) {
      return Refused(404, "no thumbnail yet");
    }
    response.contentType = "image/png";
    return response;
  }
  if (!ReadWholeFile(env_, path, &response.body).ok()) return Refused(404, "the file is gone");
  const std::string name = path.substr(path.rfind('/') + 1);
  response.contentType = ContentTypeOf(name);
  std::string quoted;
  for (char c : name) quoted += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 32) ? '_' : c;
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + quoted + "\"");
  return response;
}

WebResponse WebApp::ChangeDestination(const WebRequest& request) {
  const Outcome outcome = ApplyDestinationForm(ParseFormText(request.body));
  return Json(OutcomeView(outcome), outcome.ok() ? 200 : 400);
}

WebResponse WebApp::ChangeSetting(const WebRequest& request) {
  json view;
  const Outcome outcome = ApplySettingForm(ParseFormText(request.body), &view);
  return Json(view, outcome.ok() ? 200 : 400);
}

}  // namespace qb
