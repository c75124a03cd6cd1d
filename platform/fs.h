// File-system services over UTF-8 paths. The core writes Windows paths with
// "\"; the POSIX backend turns them into "/" at its edge.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;

// True when a directory search for the path finds an entry: a directory or a
// matching wildcard pattern counts.
bool FileExists(const std::string& path);
// True when the path names a directory.
bool FolderExists(const std::string& path);

// What a path names. Asking never opens the file, so a pipe cannot block.
enum class FileKind { Missing, Regular, Folder, Other };
FileKind KindOfFile(const std::string& path);

// Why a read failed.
enum class ReadFailure { None, Missing, NotRegular, Denied, Failed };
// The whole file, or nothing when it cannot be read (missing, a folder, a
// pipe or device, no access, an I/O error), so that an empty file and an
// unreadable one can be told apart. *why (when given) keeps the reason.
[[nodiscard]] std::optional<Bytes> ReadWholeFile(const std::string& path, ReadFailure* why = nullptr);

// True when both paths name one existing file, whatever the spelling: ".\x",
// an absolute path, a hard or symbolic link.
[[nodiscard]] bool SameFile(const std::string& a, const std::string& b);
// True for an existing file marked read-only.
[[nodiscard]] bool IsReadOnlyFile(const std::string& path);
// Clears the read-only mark, so that a replace may go over the file.
[[nodiscard]] bool MakeWritable(const std::string& path);
// Creates or truncates, then writes. False when the file cannot be written.
[[nodiscard]] bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data);
[[nodiscard]] bool WriteFileBytes(const std::string& path, std::string_view data);
// Writes beside the target and renames over it, so a crash never leaves the
// target cut short.
[[nodiscard]] bool ReplaceFileAtomically(const std::string& path, std::string_view data);
// One directory level.
bool CreateFolder(const std::string& path);
// One directory level for programs that others start: only the creating
// user, SYSTEM and the administrators may change it; other users may read and
// run what is in it. Nothing is inherited from the parent (a drive's root
// lets every account modify). A volume without access lists (FAT, exFAT)
// gets a plain folder.
enum class ProtectedFolder { Protected, NoAccessLists, Failed };
[[nodiscard]] ProtectedFolder CreateProtectedFolder(const std::string& path);
// Overwrites an existing target.
bool CopyFileTo(const std::string& source, const std::string& target);
bool DeleteFileAt(const std::string& path);
// Renames, replacing an existing target.
[[nodiscard]] bool MoveFileReplace(const std::string& source, const std::string& target);
// Appends to a regular file, creating it when missing. Others may read the
// file meanwhile (a log a support person has open). False when it cannot be
// written; a folder, pipe or device is refused.
[[nodiscard]] bool AppendFileBytes(const std::string& path, std::string_view data);
// Length of a regular file; nothing when it is missing or not a file.
[[nodiscard]] std::optional<std::uint64_t> FileSizeOf(const std::string& path);

enum FileAttr : std::uint32_t {
  kAttrReadOnly = 1,
  kAttrHidden = 2,
  kAttrSystem = 4,
  kAttrDirectory = 16,
  kAttrArchive = 32,
};

// A directory search: entry names (without directory) that match a pattern
// such as "dir\*.exe". Without a mask every entry that is not a directory
// matches; with a mask an entry matches when its attributes share a bit with
// mask & 0x37, and a mask of 0 matches only entries whose attributes are 0.
// "." and ".." are entries like any other.
class DirectoryListing {
 public:
  DirectoryListing(const std::string& pattern, std::optional<std::uint32_t> mask);
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;
  // The next matching name; the empty text when none is left.
  std::string Next();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
