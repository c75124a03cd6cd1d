// The four versions: their configured slots, where each lives on disk,
// whether it counts as installed, and which one the window shows. Every rule
// about versions is here; the window, the settings, the game start and the
// install job ask this module instead of reading the slots themselves.
#pragma once
#include <array>
#include <string>
#include <string_view>

#include "config/launcher_config.h"

namespace config {

// Looking a version up by display name visits 1, 2, 4, 3; the start-up scan
// and the folder lookup visit 1, 2, 3, 4. Both orders are observable when two
// slots share a display name.
inline constexpr std::array<int, 4> kLookupOrder = {1, 2, 4, 3};
inline constexpr std::array<int, 4> kScanOrder = {1, 2, 3, 4};

// A version's places on disk, all beneath the program's directory. Empty
// when the folder name is refused by platform::IsValidName: no path is ever
// built from such a name.
struct VersionPaths {
  std::string folder;       // run directory \ folder name
  std::string dataPath;     // folder \ file name of the data address (the install's target)
  std::string programPath;  // folder \ file name of the program address (the install's target)
  std::string iniPath;      // folder \ Game.ini
  // The program the start button opens: programPath, or empty when the
  // address names no valid file (an address ending in "/" must never open
  // the folder itself).
  std::string exePath;
};

VersionPaths ComputeVersionPaths(std::string_view runDirectory, const VersionSlot& slot);

class Versions {
 public:
  // Takes the configured slots and the program's directory: nothing counts
  // as installed, nothing is selected.
  void Load(const std::array<VersionSlot, 4>& slots, std::string_view runDirectory);
  // Replaces the configuration of one slot (1..4); its install mark is kept.
  void SetSlot(int n, VersionSlot slot);

  const VersionSlot& Slot(int n) const { return slots_[Index(n)]; }
  const VersionPaths& Paths(int n) const { return paths_[Index(n)]; }
  // The folder name passes the name check (paths are not empty).
  bool HasValidFolder(int n) const { return !paths_[Index(n)].folder.empty(); }

  // The first slot in lookup order whose display name equals name byte for
  // byte; 0 when none does.
  int FindByName(std::string_view name) const;
  // The folder name of the first slot in scan order whose display name
  // equals name; empty when none does.
  std::string FolderForName(std::string_view name) const;
  // Paths of that slot; nullptr when there is none or its folder is refused.
  const VersionPaths* PathsForName(std::string_view name) const;

  // Installed: the slot was marked installed under its current display name
  // and its folder name is valid (an unnamed slot with a folder counts too,
  // as the two empty names match).
  bool IsInstalled(int n) const;
  const std::string& InstalledName(int n) const { return installedNames_[Index(n)]; }
  void MarkInstalled(int n) { installedNames_[Index(n)] = Slot(n).displayName; }
  void MarkNotInstalled(int n) { installedNames_[Index(n)].clear(); }

  // Installed means intact: where the configuration states a file's size,
  // the file on disk must have it (a half-deleted folder or a crashed copy
  // does not). The first such file that is missing or of another size, the
  // program file first; empty when none is, or no size is configured.
  std::string FirstDamagedFile(int n) const;
  bool FilesIntact(int n) const { return FirstDamagedFile(n).empty(); }

  // The version the main window shows: version 1's name after loading, then
  // what the player selected or installed last.
  const std::string& SelectedName() const { return selectedName_; }
  void Select(std::string name) { selectedName_ = std::move(name); }

 private:
  static std::size_t Index(int n) { return static_cast<std::size_t>(n - 1); }

  std::string runDirectory_;
  std::array<VersionSlot, 4> slots_{};
  std::array<VersionPaths, 4> paths_{};
  std::array<std::string, 4> installedNames_{};
  std::string selectedName_;
};

}  // namespace config
