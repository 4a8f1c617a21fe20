// The page itself: the sign-in notice, the dashboard's HTML (with the
// session's CSRF token), its script and its style. The script builds every
// element with text nodes only: names from printers never become markup.
#pragma once

#include <string>

#include "web/web_request.h"

namespace qb {

WebResponse SignInPage();
WebResponse DashboardPage(const std::string& csrfToken);
WebResponse PageScript();
WebResponse PageStyle();

}  // namespace qb
