// The files of one received document on their way into a destination
// folder. Each file is written under a hidden staging name (".qbx-....part")
// in the folder it is meant for, so it stays on the destination's file
// system; it appears under its final name only when the document is
// committed: content made durable first, then the name put in place without
// replacing anything (unless OverWrite asks for it), then the folder made
// durable. A receiver that stops or crashes half-way therefore never leaves
// a partial scan under a real name, and a document the printer was told is
// stored is on disk to stay.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace qb {

class DocumentFiles {
 public:
  // `owner` holds the document's reserved names (NameReservations); they
  // are released when the document is committed or dropped. Every file
  // operation goes through `env`.
  DocumentFiles(Env& env, uint64_t owner) : env_(&env), owner_(owner) {}
  ~DocumentFiles() { DropAll(); }
  DocumentFiles(const DocumentFiles&) = delete;
  DocumentFiles& operator=(const DocumentFiles&) = delete;

  uint64_t Owner() const { return owner_; }
  Env& env() const { return *env_; }

  // Starts (or starts again) the file that is to appear as `finalPath`:
  // creates an empty staging file beside it (mode 0660) and returns its
  // path; empty when it cannot be created.
  std::string Begin(const std::string& finalPath);
  // Starts a file whose name is not known yet in `folder` and opens it for
  // writing into `*writer`; its staging path stands for its final path
  // until Rename gives it one. Empty (and the reason in `*why`) when it
  // cannot be created.
  std::string BeginUnnamed(const std::string& folder, std::unique_ptr<WritableFile>* writer,
                           FileResult* why);
  // The staging file of `finalPath`, empty when there is none.
  std::string StagingPathOf(const std::string& finalPath) const;
  // Whether the document has a file to appear as `finalPath`.
  bool Holds(const std::string& finalPath) const { return !StagingPathOf(finalPath).empty(); }
  // The file meant for `from` will appear as `to`; nothing on disk moves.
  void Rename(const std::string& from, const std::string& to);
  // Deletes the staging file of `finalPath`.
  void Drop(const std::string& finalPath);
  // Deletes every staging file and releases the names.
  void DropAll();
  size_t Count() const { return files_.size(); }

  // Makes every file durable and gives it its final name. With `overwrite`
  // off an existing file is never replaced: a name taken since it was
  // chosen moves to the next free one ("name(1).ext"), listed in `moved` as
  // (old, new) full paths. Releases the names. False when a file could not
  // be made durable or placed; those placed before stay, the rest are
  // dropped.
  bool Commit(bool overwrite, std::vector<std::pair<std::string, std::string>>* moved);
  // As Commit, but every file on its own: one that cannot be placed is
  // dropped and the others still go in. Returns the final paths of the
  // files that did not land.
  std::vector<std::string> CommitEach(bool overwrite,
                                      std::vector<std::pair<std::string, std::string>>* moved);

 private:
  struct File {
    std::string finalPath;
    std::string stagingPath;
  };
  std::string NewStagingFile(const std::string& folder, std::unique_ptr<WritableFile>* writer,
                             FileResult* why);
  bool PlaceOne(const File& file, bool overwrite,
                std::vector<std::pair<std::string, std::string>>* moved);
  // Makes the entries of every folder that received a file durable.
  bool SyncFolders(const std::vector<std::string>& folders);

  Env* env_;
  uint64_t owner_;
  std::vector<File> files_;
};

// The staging files that a receiver of this machine which ended without
// committing (a crash, a power loss) left in `folder`: they belong to no
// running process here. Another machine's staging files (a shared folder)
// are that machine's to remove. Deletes them and returns how many there
// were.
int RemoveAbandonedStagingFiles(Env& env, const std::string& folder);
// The same for every destination folder of the list and the folders right
// below them (meta data may name a sub-folder); run when the receiver starts.
int RemoveAbandonedStagingFilesInDestinations(Env& env);

}  // namespace qb
