#include <windows.h>
#include <winioctl.h>

#include "platform/file_writer.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

FileWriter::~FileWriter() {
  if (handle_ != kNone) ::CloseHandle(AsHandle(handle_));
}

bool FileWriter::Create(const std::string& path) {
  if (handle_ != kNone) return false;
  HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool FileWriter::OpenAt(const std::string& path, std::int64_t offset) {
  if (handle_ != kNone || offset < 0) return false;
  HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = offset;
  if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
    ::CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool FileWriter::OpenForUpdate(const std::string& path) {
  if (handle_ != kNone) return false;
  // Shared for writing: the other connections of the same download hold it too.
  HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool FileWriter::WriteAt(std::int64_t offset, const void* data, std::size_t size) {
  if (handle_ == kNone || offset < 0) return false;
  // A positioned write on a handle without FILE_FLAG_OVERLAPPED moves the
  // file pointer: put it back, so a following Write goes where it would.
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(AsHandle(handle_), zero, &position, FILE_CURRENT)) return false;
  struct Restore {
    HANDLE h;
    LARGE_INTEGER at;
    ~Restore() { ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN); }
  } restore{AsHandle(handle_), position};
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), p, chunk, &written, &at) || written == 0) {
      DWORD e = ::GetLastError();
      diskFull_ = e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
      return false;
    }
    p += written;
    offset += written;
    size -= written;
  }
  return true;
}

// NTFS grows a sequentially written file cheaply; nothing to set aside.
void FileWriter::Reserve(std::int64_t) {}

bool FileWriter::Write(const void* data, std::size_t size) {
  if (handle_ == kNone) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), p, chunk, &written, nullptr) || written == 0) {
      DWORD e = ::GetLastError();
      diskFull_ = e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

bool FileWriter::Flush() {
  if (handle_ == kNone) return false;
  if (::FlushFileBuffers(AsHandle(handle_))) return true;
  DWORD e = ::GetLastError();
  if (e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL) diskFull_ = true;
  return false;
}

SparseResult FileWriter::SetSparse(bool sparse) {
  if (handle_ == kNone) return SparseResult::Failed;
  // The volume of this very file, by its handle: the path may be a junction.
  DWORD flags = 0;
  if (!::GetVolumeInformationByHandleW(AsHandle(handle_), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return SparseResult::Failed;
  if (!(flags & FILE_SUPPORTS_SPARSE_FILES)) return SparseResult::NotSupported;
  FILE_SET_SPARSE_BUFFER set{};
  set.SetSparse = sparse ? TRUE : FALSE;
  DWORD returned = 0;
  if (!::DeviceIoControl(AsHandle(handle_), FSCTL_SET_SPARSE, &set, sizeof set, nullptr, 0, &returned, nullptr))
    return SparseResult::Failed;
  return SparseResult::Done;
}

bool FileWriter::Close() {
  if (handle_ == kNone) return false;
  HANDLE h = AsHandle(handle_);
  handle_ = kNone;
  // On disk before the rename that publishes the file.
  bool flushed = ::FlushFileBuffers(h) != 0;
  return (::CloseHandle(h) != 0) && flushed;
}

}  // namespace platform
