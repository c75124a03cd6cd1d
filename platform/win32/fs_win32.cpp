#include <windows.h>
#include <sddl.h>

#include "platform/fs.h"
#include "platform/win32/protected_folder.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace platform {
using win32::UniqueFileHandle;
using win32::UniqueFindHandle;
using win32::Widen;

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  WIN32_FIND_DATAW fd;
  UniqueFindHandle h(::FindFirstFileW(Widen(path).c_str(), &fd));
  if (h) return true;
  // FindFirstFile cannot see a drive root ("C:\"); ask for its attributes.
  return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path) {
  DWORD a = ::GetFileAttributesW(Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
// A handle for asking about a file, not for reading it: no access asked, so
// devices and pipes open without blocking; folders open too.
UniqueFileHandle OpenForQuery(const std::string& path) {
  return UniqueFileHandle(::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool IsNotFound(DWORD e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME;
}
}  // namespace

FileKind KindOfFile(const std::string& path) {
  DWORD a = ::GetFileAttributesW(Widen(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES && IsNotFound(::GetLastError())) return FileKind::Missing;
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return FileKind::Folder;
  UniqueFileHandle f = OpenForQuery(path);
  if (!f) return a == INVALID_FILE_ATTRIBUTES ? FileKind::Missing : FileKind::Regular;
  return ::GetFileType(f.get()) == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
}

std::optional<Bytes> ReadWholeFile(const std::string& path, ReadFailure* why) {
  ReadFailure dummy;
  ReadFailure& failure = why ? *why : dummy;
  failure = ReadFailure::None;
  FileKind kind = KindOfFile(path);
  if (kind != FileKind::Regular) {
    failure = kind == FileKind::Missing ? ReadFailure::Missing : ReadFailure::NotRegular;
    return std::nullopt;
  }
  UniqueFileHandle f(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) {
    DWORD e = ::GetLastError();
    failure = IsNotFound(e) ? ReadFailure::Missing
              : (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) ? ReadFailure::Denied
                                                                           : ReadFailure::Failed;
    return std::nullopt;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart > 0x7FFFFFFF) {
    failure = ReadFailure::Failed;
    return std::nullopt;
  }
  Bytes out(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < out.size()) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1 << 20));
    if (!::ReadFile(f.get(), out.data() + done, want, &got, nullptr)) {
      failure = ReadFailure::Failed;
      return std::nullopt;
    }
    if (got == 0) break;
    done += got;
  }
  out.resize(done);
  return out;
}

bool SameFile(const std::string& a, const std::string& b) {
  UniqueFileHandle fa = OpenForQuery(a), fb = OpenForQuery(b);
  if (!fa || !fb) return false;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!::GetFileInformationByHandle(fa.get(), &ia) || !::GetFileInformationByHandle(fb.get(), &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

bool IsReadOnlyFile(const std::string& path) {
  DWORD a = ::GetFileAttributesW(Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_READONLY);
}

bool MakeWritable(const std::string& path) {
  DWORD a = ::GetFileAttributesW(Widen(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  a &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesW(Widen(path).c_str(), a ? a : FILE_ATTRIBUTE_NORMAL) != 0;
}

namespace {
bool WriteAll(HANDLE f, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
    DWORD wrote = 0;
    if (!::WriteFile(f, data, chunk, &wrote, nullptr) || wrote == 0) return false;
    data += wrote;
    size -= wrote;
  }
  return true;
}
}  // namespace

bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) {
  UniqueFileHandle f(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  return WriteAll(f.get(), data.data(), data.size());
}

bool WriteFileBytes(const std::string& path, std::string_view data) {
  return WriteFileBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data) {
  // A read-only target stays as it is; not every system refuses the rename.
  if (IsReadOnlyFile(path)) return false;
  std::string tmp = path + ".tmp~";
  {
    UniqueFileHandle f(::CreateFileW(Widen(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    if (!WriteAll(f.get(), reinterpret_cast<const std::uint8_t*>(data.data()), data.size()) ||
        !::FlushFileBuffers(f.get())) {
      f.reset();
      ::DeleteFileW(Widen(tmp).c_str());
      return false;
    }
  }
  if (!::MoveFileExW(Widen(tmp).c_str(), Widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(Widen(tmp).c_str());
    return false;
  }
  return true;
}

bool CreateFolder(const std::string& path) { return ::CreateDirectoryW(Widen(path).c_str(), nullptr) != 0; }

namespace {
// The process user's SID as text ("S-1-5-21-..."); empty when unknown.
std::wstring CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  win32::UniqueKernelHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<std::uint8_t> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  win32::UniqueLocalMemory owner(text);
  return text;
}

bool VolumeHasAccessLists(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1] = {};
  DWORD flags = 0;
  // Unknown counts as having them: a descriptor on a volume without access
  // lists is ignored, never an error.
  if (!::GetVolumePathNameW(path.c_str(), root, MAX_PATH) ||
      !::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return true;
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}
}  // namespace

ProtectedFolder CreateProtectedFolder(const std::string& path) {
  std::wstring wide = Widen(path);
  if (!VolumeHasAccessLists(wide))
    return ::CreateDirectoryW(wide.c_str(), nullptr) ? ProtectedFolder::NoAccessLists : ProtectedFolder::Failed;
  win32::UniqueLocalMemory sd = win32::ProtectedFolderDescriptor();
  if (!sd) return ProtectedFolder::Failed;
  // Given at creation, so there is no moment with the parent's rights.
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  return ::CreateDirectoryW(wide.c_str(), &sa) ? ProtectedFolder::Protected : ProtectedFolder::Failed;
}

namespace win32 {
UniqueLocalMemory ProtectedFolderDescriptor() {
  std::wstring user = CurrentUserSid();
  if (user.empty()) return {};
  // P: protected, nothing inherited. OICI: files and folders below inherit
  // each entry. 0x1200a9: read and execute (FILE_GENERIC_READ | _EXECUTE).
  std::wstring sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) return {};
  return UniqueLocalMemory(sd);
}
}  // namespace win32

bool CopyFileTo(const std::string& source, const std::string& target) {
  return ::CopyFileW(Widen(source).c_str(), Widen(target).c_str(), FALSE) != 0;
}

bool DeleteFileAt(const std::string& path) { return ::DeleteFileW(Widen(path).c_str()) != 0; }

bool MoveFileReplace(const std::string& source, const std::string& target) {
  return ::MoveFileExW(Widen(source).c_str(), Widen(target).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool AppendFileBytes(const std::string& path, std::string_view data) {
  // Append-only access: every write lands at the end, whoever else appends.
  UniqueFileHandle f(::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  if (::GetFileType(f.get()) != FILE_TYPE_DISK) return false;
  return WriteAll(f.get(), reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

struct DirectoryListing::Impl {
  UniqueFindHandle find;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // data holds an entry not yet examined
  std::optional<std::uint32_t> mask;
};

DirectoryListing::DirectoryListing(const std::string& pattern, std::optional<std::uint32_t> mask)
    : impl_(std::make_unique<Impl>()) {
  impl_->mask = mask;
  impl_->find.reset(::FindFirstFileW(Widen(pattern).c_str(), &impl_->data));
  impl_->pending = static_cast<bool>(impl_->find);
}

DirectoryListing::~DirectoryListing() = default;

std::string DirectoryListing::Next() {
  while (impl_->find) {
    if (!impl_->pending) {
      if (!::FindNextFileW(impl_->find.get(), &impl_->data)) {
        impl_->find.reset();
        break;
      }
    }
    impl_->pending = false;
    std::uint32_t attrs = impl_->data.dwFileAttributes;
    bool match;
    if (!impl_->mask) match = (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
    else if (*impl_->mask == 0) match = (attrs & 0x37) == 0 && (attrs & ~0x80u) == 0;
    else match = (attrs & (*impl_->mask & 0x37)) != 0;
    if (match) return win32::Narrow(impl_->data.cFileName);
  }
  return {};
}

}  // namespace platform
