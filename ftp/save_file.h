// Received-file buffers: a stored file is collected here while it arrives
// and written to its destination only when the session decides to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "storage/document_files.h"

namespace qb {

// Names of the temporary files of received files: "TXQB<hex>.tmp".
constexpr char kReceivedFileTempPrefix[] = "TXQB";

// The sink that RecvBinaryFile writes into.
class ReceivedFileWriter {
 public:
  virtual ~ReceivedFileWriter() = default;
  // Appends bytes; false: they could not be kept, the receive stops.
  virtual bool Write(const void* data, uint32_t length) = 0;
  // The last byte has arrived; false: what was received could not all be
  // kept.
  virtual bool Finish() { return true; }
};

// A received file: a sink that can report its size, be read back, carry a
// destination path and be saved there.
class SaveFile : public ReceivedFileWriter {
 public:
  // Writes the content to the destination path (only the temporary-file
  // buffer of the plain engine can).
  virtual bool Save() { return false; }
  // 64 bits: a stored file may pass 4 GiB.
  virtual uint64_t GetSize() = 0;
  // Copies the whole content to `out` (room for GetSize() bytes).
  virtual bool ReadAll(void* out) = 0;
  // Destination path, or null.
  virtual const char* GetPath() = 0;
  // Backing temporary file, or null when there is none.
  virtual const char* GetTempName() = 0;
  virtual void SetPath(const char* path) = 0;
};

// Keeps the bytes in a temporary file "TXQB….tmp" in the temporary folder
// (deleted with the object).
class TempSaveFile : public SaveFile {
 public:
  TempSaveFile(const char* path, Env& env);
  ~TempSaveFile() override;
  bool Write(const void* data, uint32_t length) override;
  bool Finish() override;
  bool Save() override;
  uint64_t GetSize() override { return size_; }
  bool ReadAll(void* out) override;
  const char* GetPath() override;
  const char* GetTempName() override;
  void SetPath(const char* path) override;

 private:
  // Opens the temporary file: a new one of an unguessable name in TMP at
  // the first write, the same one again after Finish.
  bool OpenTempFile();

  Env& env_;
  std::unique_ptr<std::string> path_;
  std::string temp_name_;               // made at the first write
  std::unique_ptr<WritableFile> file_;  // open until the last byte
  uint64_t size_ = 0;
};

// Writes the bytes straight into a staging file of `staged` in the folder
// the file is meant for, so a stored file is written once, on the volume
// where it will live. The session gives it its name and commits it when
// the client quits; one still under its staging name when this object goes
// (a failed transfer, a session without QUIT) is dropped with it.
class StagedSaveFile : public SaveFile {
 public:
  // Null, and the reason in `*why`, when the folder of `path` takes no new
  // file.
  static std::unique_ptr<StagedSaveFile> Start(const char* path, DocumentFiles& staged,
                                               FileResult* why);
  ~StagedSaveFile() override;
  bool Write(const void* data, uint32_t length) override;
  bool Finish() override;
  uint64_t GetSize() override { return size_; }
  bool ReadAll(void* out) override;
  const char* GetPath() override { return path_.c_str(); }
  const char* GetTempName() override { return staging_.c_str(); }
  void SetPath(const char* path) override { path_ = path != nullptr ? path : ""; }

 private:
  StagedSaveFile(const char* path, DocumentFiles& staged, std::string staging,
                 std::unique_ptr<WritableFile> file);
  DocumentFiles& staged_;
  Env& env_;
  std::string path_;
  const std::string staging_;
  std::unique_ptr<WritableFile> file_;
  uint64_t size_ = 0;
};

// Keeps the bytes in memory in 256 KiB chunks, at most `limit` of them:
// beyond it the rest is counted but dropped (ReadAll then fails).
class MemorySaveFile : public SaveFile {
 public:
  explicit MemorySaveFile(const char* path, uint64_t limit = UINT64_MAX);
  ~MemorySaveFile() override;
  bool Write(const void* data, uint32_t length) override;
  uint64_t GetSize() override;
  bool ReadAll(void* out) override;
  const char* GetPath() override;
  const char* GetTempName() override { return nullptr; }
  void SetPath(const char* path) override;

 private:
  static constexpr uint32_t kChunkSize = 262144;
  std::unique_ptr<std::string> path_;
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  uint32_t used_ = 0;
  const uint64_t limit_;
  uint64_t dropped_ = 0;
};

}  // namespace qb
