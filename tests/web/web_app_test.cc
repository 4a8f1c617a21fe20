// The page's handlers driven without a socket: who gets in, what a change
// needs, and that a document is served only from a destination folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/unit/test_root.h"
#include "platform/env.h"
#include "web/web_app.h"
#include "web/web_views.h"

namespace qb {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

std::string HeaderOf(const WebResponse& response, const std::string& name) {
  for (const auto& [key, value] : response.headers) {
    if (key == name) return value;
  }
  return {};
}

class WebAppTest : public ::testing::Test {
 protected:
  WebAppTest() {
    folder_ = root_.path() + "/srv/one";
    std::filesystem::create_directories(folder_);
    std::filesystem::create_directories(root_.path() + "/srv/elsewhere");
    Write(root_.DataDir() + "/tvscan_f.bin", "1;" + folder_ + ";First;;\n");
    Write(folder_ + "/scan.pdf", "%PDF-1.4 not really\n");
    Write(root_.path() + "/srv/elsewhere/secret.txt", "private\n");
    Write(root_.DataDir() + "/tvscanlog_f.bin",
          "2026/12/08 05:00 *;printer;scan.pdf;1;" + folder_ + "\n" +
          "2026/12/08 05:01 *;printer;secret.txt;1;" + root_.path() + "/srv/elsewhere\n");
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
  }
  // A request as the signed-in page (or, without a cookie, anyone) sends it.
  static WebRequest Request(const std::string& method, const std::string& path,
                            const std::string& cookie = {}) {
    WebRequest request;
    request.method = method;
    request.path = path;
    request.host = "127.0.0.1:37180";
    request.cookie = cookie;
    return request;
  }
  WebResponse Get(const std::string& path, const std::string& cookie = {}) {
    return app_.Handle(Request("GET", path, cookie));
  }
  WebResponse Post(const std::string& path, const std::string& body, const std::string& cookie,
                   const std::string& csrf) {
    WebRequest request = Request("POST", path, cookie);
    request.csrfToken = csrf;
    request.body = body;
    return app_.Handle(request);
  }
  // Signs in; the session's cookie header and CSRF token.
  std::pair<std::string, std::string> SignIn() {
    WebRequest request = Request("GET", "/");
    request.query["token"] = kToken;
    const WebResponse signedIn = app_.Handle(request);
    EXPECT_EQ(signedIn.status, 303);
    const std::string setCookie = HeaderOf(signedIn, "Set-Cookie");
    EXPECT_NE(setCookie.find("HttpOnly; SameSite=Strict"), std::string::npos);
    const std::string cookie = setCookie.substr(0, setCookie.find(';'));
    const WebResponse page = Get("/", cookie);
    const size_t at = page.body.find("csrf-token\" content=\"");
    EXPECT_NE(at, std::string::npos);
    const size_t start = at + 21;
    return {cookie, page.body.substr(start, page.body.find('"', start) - start)};
  }

  test::TestRoot root_;
  std::string folder_;
  WebAuth auth_{kToken};
  ThumbnailCache thumbnails_{Env::Default(), root_.DataDir() + "/thumbnails", 10};
  WebApp app_{Env::Default(), auth_, thumbnails_, WebAppOptions{{"127.0.0.1:37180"}, false}};
};

TEST_F(WebAppTest, NothingWithoutTheTokenOrAtAnotherHostName) {
  for (const char* path : {"/", "/api/state", "/api/settings", "/file", "/thumb"}) {
    SCOPED_TRACE(path);
    const WebResponse response = Get(path);
    EXPECT_EQ(response.status, 401);
    EXPECT_EQ(response.body.find("printer"), std::string::npos);
    EXPECT_EQ(HeaderOf(response, "X-Frame-Options"), "DENY");
  }
  WebRequest wrongToken = Request("GET", "/");
  wrongToken.query["token"] = std::string(kToken).replace(0, 1, "f");
  EXPECT_EQ(app_.Handle(wrongToken).status, 401);
  EXPECT_TRUE(HeaderOf(app_.Handle(wrongToken), "Set-Cookie").empty());

  // A page reached by another name (a rebound DNS name) answers nothing,
  // even to a signed-in browser.
  const auto [cookie, csrf] = SignIn();
  WebRequest rebound = Request("GET", "/api/state", cookie);
  rebound.host = "evil.example:37180";
  EXPECT_EQ(app_.Handle(rebound).status, 421);
}

TEST_F(WebAppTest, ChangesNeedTheSessionsCsrfTokenAndAreChecked) {
  const auto [cookie, csrf] = SignIn();
  const std::string list = test::ReadWholeFile(root_.DataDir() + "/tvscan_f.bin");
  const std::string second = root_.path() + "/srv/two";
  const std::string add = "action=add&number=2&folder=" + second;
  EXPECT_EQ(Post("/api/destinations", add, {}, csrf).status, 401);
  EXPECT_EQ(Post("/api/destinations", add, cookie, {}).status, 403);
  EXPECT_EQ(Post("/api/destinations", add, cookie, csrf + "0").status, 403);
  // A folder that does not exist is refused with the reason.
  const WebResponse missing = Post("/api/destinations", add, cookie, csrf);
  EXPECT_EQ(missing.status, 400);
  EXPECT_NE(nlohmann::json::parse(missing.body)["reason"].get<std::string>().find("does not exist"),
            std::string::npos);
  EXPECT_EQ(test::ReadWholeFile(root_.DataDir() + "/tvscan_f.bin"), list);

  std::filesystem::create_directories(second);
  EXPECT_EQ(Post("/api/destinations", add + "&description=Two", cookie, csrf).status, 200);
  EXPECT_EQ(test::ReadWholeFile(root_.DataDir() + "/tvscan_f.bin"),
            list + "2;" + second + ";Two;;\n");
  const WebResponse badValue = Post("/api/settings", "name=WebPort&value=0", cookie, csrf);
  EXPECT_EQ(badValue.status, 400);
  const nlohmann::json setting =
      nlohmann::json::parse(Post("/api/settings", "name=WebPort&value=38000", cookie, csrf).body);
  EXPECT_TRUE(setting["ok"]);
  EXPECT_TRUE(setting["restartNeeded"]);
}

TEST_F(WebAppTest, DocumentsAreServedOnlyFromDestinationFolders) {
  const auto [cookie, csrf] = SignIn();
  const nlohmann::json state = nlohmann::json::parse(Get("/api/state", cookie).body);
  ASSERT_EQ(state["documents"].size(), 2u);
  EXPECT_EQ(state["documents"][0]["file"], "secret.txt");  // newest first
  EXPECT_FALSE(state["documents"][0]["openable"]);
  EXPECT_TRUE(state["documents"][1]["openable"]);

  const WebResponse pdf = Get("/file?id=x", cookie);
  EXPECT_EQ(pdf.status, 404);
  WebRequest request = Request("GET", "/file", cookie);
  request.query["id"] = state["documents"][1]["id"];
  const WebResponse served = app_.Handle(request);
  EXPECT_EQ(served.status, 200);
  EXPECT_EQ(served.contentType, "application/pdf");
  EXPECT_EQ(served.body, "%PDF-1.4 not really\n");
  EXPECT_EQ(HeaderOf(served, "Content-Disposition"), "attachment; filename=\"scan.pdf\"");
  request.query["id"] = state["documents"][0]["id"];
  EXPECT_EQ(app_.Handle(request).status, 404);

  const nlohmann::json found = nlohmann::json::parse(Get("/api/log", cookie).body);
  EXPECT_EQ(found.size(), 2u);
}

TEST(WebRequestTest, FormsAndCookiesAreDecodedAsBrowsersSendThem) {
  const std::map<std::string, std::string> form =
      ParseFormText("a=1&b=x+y%2Fz&&c&a=2&bad=%zz%4&%41=ok");
  EXPECT_EQ(form.at("a"), "2");
  EXPECT_EQ(form.at("b"), "x y/z");
  EXPECT_EQ(form.at("c"), "");
  EXPECT_EQ(form.at("bad"), "%zz%4");
  EXPECT_EQ(form.at("A"), "ok");
  EXPECT_EQ(CookieValue("a=1; qbsession=abc; qbsessionx=no", "qbsession"), "abc");
  EXPECT_EQ(CookieValue("xqbsession=no", "qbsession"), "");
}

TEST(WebAuthTest, SessionsEndWhenUnusedAndTheOldestMakeRoom) {
  WebAuth auth(kToken);
  EXPECT_TRUE(auth.StartSession("", 0).empty());
  EXPECT_TRUE(auth.StartSession(std::string(kToken) + "0", 0).empty());
  const std::string first = auth.StartSession(kToken, 0);
  ASSERT_EQ(first.size(), 48u);
  const std::string cookie = std::string(kSessionCookie) + "=" + first;
  const std::string csrf = auth.SessionCsrf(cookie, 10);
  EXPECT_EQ(csrf.size(), 48u);
  EXPECT_TRUE(auth.ChangeAllowed(cookie, csrf, 20));
  EXPECT_FALSE(auth.ChangeAllowed(cookie, "", 20));
  EXPECT_TRUE(auth.SessionCsrf(cookie, 20 + 12 * 3600 + 1).empty());  // unused too long

  const std::string kept = std::string(kSessionCookie) + "=" + auth.StartSession(kToken, 100);
  for (int i = 0; i < 70; ++i) {
    auth.SessionCsrf(kept, 200 + i);  // kept in use
    auth.StartSession(kToken, 200 + i);
  }
  EXPECT_FALSE(auth.SessionCsrf(kept, 300).empty());
}

}  // namespace
}  // namespace qb
