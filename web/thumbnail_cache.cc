#include "web/thumbnail_cache.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "web/thumbnail.h"

namespace qb {
namespace {

// Documents asked about faster than they can be made wait at most this
// many deep; the page asks again on its next update.
constexpr size_t kQueueLimit = 64;

bool IsPlainId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

}  // namespace

ThumbnailCache::ThumbnailCache(Env& env, std::string folder, size_t maxFiles)
    : env_(env), folder_(std::move(folder)), maxFiles_(maxFiles), maker_([this] { Make(); }) {}

ThumbnailCache::~ThumbnailCache() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  maker_.join();
}

std::string ThumbnailCache::FileOf(const std::string& id) const { return folder_ + "/" + id + ".png"; }

ThumbnailState ThumbnailCache::Ask(const std::string& id, const std::string& path) {
  if (!IsPlainId(id)) return ThumbnailState::kNone;
  FileInfo info;
  if (env_.Stat(FileOf(id), &info).ok()) return ThumbnailState::kReady;
  std::lock_guard<std::mutex> hold(mutex_);
  if (failed_.count(id) != 0) return ThumbnailState::kNone;
  if (queued_.count(id) != 0) return ThumbnailState::kPending;
  if (queue_.size() >= kQueueLimit) return ThumbnailState::kPending;
  queue_.emplace_back(id, path);
  queued_.insert(id);
  wake_.notify_one();
  return ThumbnailState::kPending;
}

bool ThumbnailCache::Read(const std::string& id, std::string* png) {
  return IsPlainId(id) && ReadWholeFile(env_, FileOf(id), png).ok() && !png->empty();
}

int ThumbnailCache::Pages(const std::string& id) {
  std::string text;
  if (!IsPlainId(id) || !ReadWholeFile(env_, folder_ + "/" + id + ".pages", &text).ok()) return 0;
  return std::atoi(text.c_str());
}

void ThumbnailCache::Make() {
  for (;;) {
    std::pair<std::string, std::string> job;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    const ThumbnailResult made = MakeThumbnail(env_, job.second);
    bool stored = false;
    if (!made.png.empty()) {
      env_.CreateFolder(folder_);  // there already, mostly
      const std::string staging = FileOf(job.first) + ".part";
      stored = WriteWholeFile(env_, staging, made.png, false).ok() &&
               env_.Rename(staging, FileOf(job.first)).ok();
      if (!stored) env_.Remove(staging);
      if (stored && made.pages > 0) {
        WriteWholeFile(env_, folder_ + "/" + job.first + ".pages", std::to_string(made.pages), false);
      }
      Trim();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    queued_.erase(job.first);
    // A file that cannot be shown now will not be later: not asked again.
    if (!stored && failed_.size() < 4096) failed_.insert(job.first);
  }
}

void ThumbnailCache::Trim() {
  std::vector<FolderEntry> entries;
  if (!env_.ListFolder(folder_, &entries).ok() || entries.size() <= maxFiles_) return;
  std::vector<std::pair<int64_t, std::string>> byAge;
  for (const FolderEntry& entry : entries) {
    FileInfo info;
    const std::string path = folder_ + "/" + entry.name;
    const bool png = entry.name.size() > 4 && entry.name.compare(entry.name.size() - 4, 4, ".png") == 0;
    if (png && env_.Stat(path, &info).ok() && info.isRegular) byAge.emplace_back(info.modifiedNs, path);
  }
  std::sort(byAge.begin(), byAge.end());
  for (size_t i = 0; i + maxFiles_ < byAge.size(); ++i) {
    env_.Remove(byAge[i].second);
    const std::string& png = byAge[i].second;
    env_.Remove(png.substr(0, png.size() - 4) + ".pages");
  }
}

}  // namespace qb
