#include <fcntl.h>
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

bool FileWriter::Write(const void* data, std::size_t size) {
  if (handle_ == kNone) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileWriter::Close() {
  if (handle_ == kNone) return false;
  int fd = static_cast<int>(handle_);
  handle_ = kNone;
  return ::close(fd) == 0;
}

}  // namespace platform
