// What the page shows, as JSON, read from the receiver's files through the
// administration library (the same reading as quillbox-config), and the
// page's changes, checked and made by that library.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "admin/outcome.h"
#include "platform/env.h"
#include "web/thumbnail_cache.h"

namespace qb {

// A received document's id: a digest of its receive-log line, so that it
// names that document and no other, across restarts of the page.
std::string DocumentId(const std::string& logLine);
// The file of the document `id` when it is one file in a destination
// folder of the list, else empty.
std::string DocumentPath(Env& env, const std::string& id);
std::string ContentTypeOf(const std::string& fileName);

// Receiver, account, printers connected, destinations with their disk
// state, and the newest documents with their thumbnails' state.
nlohmann::json StateView(Env& env, ThumbnailCache& thumbnails);
// The receive log, newest first, the lines holding `search` (any case).
nlohmann::json LogView(Env& env, const std::string& search);
nlohmann::json SettingsView();
nlohmann::json DestinationsView(Env& env);
nlohmann::json OutcomeView(const Outcome& outcome);

// A destination form: action (add, set, remove), number, and the fields
// given (folder, description, code, extension).
Outcome ApplyDestinationForm(const std::map<std::string, std::string>& form);
// A setting form: name and value. `view` says what happened, and whether
// the change counts only after a restart and how to do that.
Outcome ApplySettingForm(const std::map<std::string, std::string>& form, nlohmann::json* view);

}  // namespace qb
