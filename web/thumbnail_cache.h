// Thumbnails of received documents, made on a thread of their own (never
// on a request) and kept as PNG files in a folder of the data files, at
// most `maxFiles` of them: the oldest go first.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "platform/env.h"

namespace qb {

enum class ThumbnailState { kReady, kPending, kNone };

class ThumbnailCache {
 public:
  ThumbnailCache(Env& env, std::string folder, size_t maxFiles);
  ~ThumbnailCache();  // stops the maker; what it has not made is dropped
  ThumbnailCache(const ThumbnailCache&) = delete;
  ThumbnailCache& operator=(const ThumbnailCache&) = delete;

  // The thumbnail of document `id` (letters and digits only) whose first
  // file is `path`: ready, being made (asked for now if it was not), or
  // none to be had.
  ThumbnailState Ask(const std::string& id, const std::string& path);
  // The PNG of a ready thumbnail.
  bool Read(const std::string& id, std::string* png);
  // The document's page count found while making its thumbnail; 0 unknown.
  int Pages(const std::string& id);

 private:
  void Make();
  void Trim();
  std::string FileOf(const std::string& id) const;

  Env& env_;
  const std::string folder_;
  const size_t maxFiles_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::string, std::string>> queue_;  // id, path
  std::set<std::string> queued_;
  std::set<std::string> failed_;
  bool stopping_ = false;
  std::thread maker_;
};

}  // namespace qb
