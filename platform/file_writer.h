// A file written sequentially from its start, with every failure reported:
// disk full or a locked file must not pass for a complete download.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class SparseResult {
  Done,          // set or cleared; POSIX files are sparse by nature, so always this there
  NotSupported,  // the volume keeps no sparse files (FAT, say): writes proceed as usual
  Failed,        // the volume allows it but the call failed, or no file is open
};

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
  // Puts what was written so far on the disk, so that a record saying the
  // bytes are there is never durable before the bytes. False when the file
  // is not open or the system could not write it out.
  [[nodiscard]] bool Flush();
  // Marks the file sparse (true) before writes far ahead of its end, so the
  // file system need not fill the gap with zeros first, or clears the mark
  // (false) once the file is whole. Only on an open file.
  [[nodiscard]] SparseResult SetSparse(bool sparse);
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
