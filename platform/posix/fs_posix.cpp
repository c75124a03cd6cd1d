#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/fs.h"
#include "platform/posix/path_posix.h"

namespace platform {

bool FileExists(const std::string& path) {
  std::string p = NativePath(path);
  if (p.find_first_of("*?") == std::string::npos) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
  }
  glob_t g{};
  int r = ::glob(p.c_str(), GLOB_NOSORT, nullptr, &g);
  bool found = r == 0 && g.gl_pathc > 0;
  ::globfree(&g);
  return found;
}

bool FolderExists(const std::string& path) {
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileKind KindOfFile(const std::string& path) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) return FileKind::Missing;
  if (S_ISDIR(st.st_mode)) return FileKind::Folder;
  return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
}

std::optional<Bytes> ReadWholeFile(const std::string& path, ReadFailure* why) {
  ReadFailure dummy;
  ReadFailure& failure = why ? *why : dummy;
  failure = ReadFailure::None;
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    failure = (errno == ENOENT || errno == ENOTDIR) ? ReadFailure::Missing
              : (errno == EACCES || errno == EPERM) ? ReadFailure::Denied
                                                    : ReadFailure::Failed;
    return std::nullopt;
  }
  std::optional<Bytes> out;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    failure = ReadFailure::Failed;
  } else if (!S_ISREG(st.st_mode)) {
    failure = ReadFailure::NotRegular;
  } else {
    // Read straight into the result: one copy of the file in memory.
    out.emplace(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (true) {
      if (done == out->size()) out->resize(done + 65536);  // the file grew
      ssize_t n = ::read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure = ReadFailure::Failed;
        out.reset();
        break;
      }
      if (n == 0) {
        out->resize(done);
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return out;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(NativePath(a).c_str(), &sa) != 0 || ::stat(NativePath(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st;
  // Read-only as the listing reports it: no owner write bit.
  return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

bool MakeWritable(const std::string& path) {
  struct stat st;
  std::string p = NativePath(path);
  return ::stat(p.c_str(), &st) == 0 && ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

namespace {
bool WriteAll(int fd, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data.data(), data.size());
  ok = (::close(fd) == 0) && ok;
  return ok;
}

bool WriteFileBytes(const std::string& path, std::string_view data) {
  return WriteFileBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data) {
  // Like Windows, which refuses to rename over a read-only file.
  struct stat target;
  if (::stat(NativePath(path).c_str(), &target) == 0 && (target.st_mode & S_IWUSR) == 0) return false;
  std::string tmp = path + ".tmp~";
  int fd = ::open(NativePath(tmp).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(NativePath(tmp).c_str(), NativePath(path).c_str()) == 0;
  if (!ok) ::unlink(NativePath(tmp).c_str());
  return ok;
}

bool CreateFolder(const std::string& path) { return ::mkdir(NativePath(path).c_str(), 0755) == 0; }

ProtectedFolder CreateProtectedFolder(const std::string& path) {
  // The owner writes, others read and run, whatever the umask.
  std::string native = NativePath(path);
  if (::mkdir(native.c_str(), 0755) != 0) return ProtectedFolder::Failed;
  return ::chmod(native.c_str(), 0755) == 0 ? ProtectedFolder::Protected : ProtectedFolder::Failed;
}

bool CopyFileTo(const std::string& source, const std::string& target) {
  std::optional<Bytes> data = ReadWholeFile(source);
  return data && WriteFileBytes(target, *data);
}

bool DeleteFileAt(const std::string& path) {
  std::string p = NativePath(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  // Like Windows: a read-only file is not deleted.
  if ((st.st_mode & S_IWUSR) == 0) return false;
  return ::unlink(p.c_str()) == 0;
}

bool MoveFileReplace(const std::string& source, const std::string& target) {
  return ::rename(NativePath(source).c_str(), NativePath(target).c_str()) == 0;
}

bool AppendFileBytes(const std::string& path, std::string_view data) {
  // O_NONBLOCK: a FIFO of that name must not hold the writer until a reader comes.
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            WriteAll(fd, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  ok = (::close(fd) == 0) && ok;
  return ok;
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

struct DirectoryListing::Impl {
  DIR* dir = nullptr;
  std::string folder;
  std::string namePattern;
  std::optional<std::uint32_t> mask;
};

DirectoryListing::DirectoryListing(const std::string& pattern, std::optional<std::uint32_t> mask)
    : impl_(std::make_unique<Impl>()) {
  std::string p = NativePath(pattern);
  size_t slash = p.rfind('/');
  impl_->folder = slash == std::string::npos ? "." : p.substr(0, slash == 0 ? 1 : slash);
  impl_->namePattern = slash == std::string::npos ? p : p.substr(slash + 1);
  impl_->mask = mask;
  impl_->dir = ::opendir(impl_->folder.c_str());
}

DirectoryListing::~DirectoryListing() {
  if (impl_->dir) ::closedir(impl_->dir);
}

std::string DirectoryListing::Next() {
  if (!impl_->dir) return {};
  while (dirent* e = ::readdir(impl_->dir)) {
    std::string name = e->d_name;
    if (::fnmatch(impl_->namePattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    struct stat st;
    std::string full = impl_->folder + "/" + name;
    if (::stat(full.c_str(), &st) != 0) continue;
    std::uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= kAttrDirectory;
    else attrs |= kAttrArchive;
    if ((st.st_mode & S_IWUSR) == 0) attrs |= kAttrReadOnly;
    if (name.size() > 1 && name[0] == '.' && name != "..") attrs |= kAttrHidden;
    bool match;
    if (!impl_->mask) match = (attrs & kAttrDirectory) == 0;
    else if (*impl_->mask == 0) match = attrs == 0;
    else match = (attrs & (*impl_->mask & 0x37)) != 0;
    if (match) return name;
  }
  ::closedir(impl_->dir);
  impl_->dir = nullptr;
  return {};
}

}  // namespace platform
