#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_writer.h"
#include "platform/posix/path_posix.h"

namespace platform {

FileWriter::~FileWriter() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

bool FileWriter::Create(const std::string& path) {
  if (handle_ != kNone) return false;
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  handle_ = fd;
  return true;
}

bool FileWriter::OpenAt(const std::string& path, std::int64_t offset) {
  if (handle_ != kNone || offset < 0) return false;
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (::ftruncate(fd, static_cast<off_t>(offset)) != 0 || ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool FileWriter::OpenForUpdate(const std::string& path) {
  if (handle_ != kNone) return false;
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool FileWriter::WriteAt(std::int64_t offset, const void* data, std::size_t size) {
  if (handle_ == kNone || offset < 0) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(static_cast<int>(handle_), p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      diskFull_ = errno == ENOSPC || errno == EDQUOT;
      return false;
    }
    if (n == 0) return false;
    p += n;
    offset += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void FileWriter::Reserve(std::int64_t size) {
  if (handle_ == kNone || size <= 0) return;
  int fd = static_cast<int>(handle_);
  // A size beyond the free space (a wrong or huge announcement) is not
  // reserved: a failing fallocate keeps what it got and would fill the disk
  // for everyone until the file goes. Such a download fails at its writes.
  struct statvfs fs {};
  if (::fstatvfs(fd, &fs) != 0) return;
  if (static_cast<std::uint64_t>(size) >= static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize) return;
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
    // Lost a race for the space: give back what was reserved past the end.
    struct stat st {};
    if (::fstat(fd, &st) == 0) (void)::ftruncate(fd, st.st_size);
  }
}

bool FileWriter::Write(const void* data, std::size_t size) {
  if (handle_ == kNone) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      diskFull_ = errno == ENOSPC || errno == EDQUOT;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileWriter::Flush() {
  if (handle_ == kNone) return false;
  if (::fdatasync(static_cast<int>(handle_)) == 0) return true;
  if (errno == ENOSPC || errno == EDQUOT) diskFull_ = true;
  return false;
}

// Holes cost nothing here: a write past the end leaves one without zeros.
SparseResult FileWriter::SetSparse(bool) { return handle_ == kNone ? SparseResult::Failed : SparseResult::Done; }

bool FileWriter::Close() {
  if (handle_ == kNone) return false;
  int fd = static_cast<int>(handle_);
  handle_ = kNone;
  // On disk before the rename that publishes the file.
  bool flushed = ::fsync(fd) == 0;
  if (!flushed && (errno == ENOSPC || errno == EDQUOT)) diskFull_ = true;
  return (::close(fd) == 0) && flushed;
}

}  // namespace platform
