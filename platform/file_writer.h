// A file written sequentially from its start, with every failure reported:
// disk full or a locked file must not pass for a complete download.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class FileWriter {
 public:
  FileWriter() = default;
  ~FileWriter();  // closes without reporting
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Creates the file, or truncates an existing one, for sequential writing.
  [[nodiscard]] bool Create(const std::string& path);
  // Opens an existing file to go on writing at offset: what lies past it is
  // cut off. For resuming a download.
  [[nodiscard]] bool OpenAt(const std::string& path, std::int64_t offset);
  // Opens an existing file to write at any offset, keeping what is there:
  // several writers may fill one file, each its own ranges.
  [[nodiscard]] bool OpenForUpdate(const std::string& path);
  // Writes all bytes at offset, leaving the file position alone.
  [[nodiscard]] bool WriteAt(std::int64_t offset, const void* data, std::size_t size);
  // Sets aside room for size bytes ahead of the writes, so that the file
  // system need not extend the file write by write; the file's length stays
  // what was written. A hint: where it cannot be done, writes proceed as usual.
  void Reserve(std::int64_t size);
  // Writes all bytes or fails.
  [[nodiscard]] bool Write(const void* data, std::size_t size);
  // What was written is on disk.
  [[nodiscard]] bool Flush();
  // Flushes and closes; false when anything was not written.
  [[nodiscard]] bool Close();
  [[nodiscard]] bool IsOpen() const { return handle_ != kNone; }
  // The last failed Write or Close failed for lack of space.
  [[nodiscard]] bool diskFull() const { return diskFull_; }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
  bool diskFull_ = false;
};

}  // namespace platform
