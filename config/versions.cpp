#include "config/versions.h"

#include <utility>

#include "platform/fs.h"
#include "platform/names.h"
#include "platform/runtime.h"

namespace config {

VersionPaths ComputeVersionPaths(std::string_view runDirectory, const VersionSlot& slot) {
  VersionPaths p;
  if (!platform::IsValidName(slot.folderName)) return p;
  p.folder = std::string(runDirectory) + "\\" + slot.folderName;
  p.dataPath = p.folder + "\\" + platform::TextAfterLastSlash(slot.dataDownloadUrl);
  std::string program = platform::TextAfterLastSlash(slot.programDownloadUrl);
  p.programPath = p.folder + "\\" + program;
  p.iniPath = p.folder + "\\Game.ini";
  if (platform::IsValidName(program)) p.exePath = p.programPath;
  return p;
}

void Versions::Load(const std::array<VersionSlot, 4>& slots, std::string_view runDirectory) {
  runDirectory_ = std::string(runDirectory);
  slots_ = slots;
  for (int n : kScanOrder) paths_[Index(n)] = ComputeVersionPaths(runDirectory_, Slot(n));
  installedNames_ = {};
  selectedName_ = Slot(1).displayName;
}

void Versions::SetSlot(int n, VersionSlot slot) {
  slots_[Index(n)] = std::move(slot);
  paths_[Index(n)] = ComputeVersionPaths(runDirectory_, Slot(n));
}

int Versions::FindByName(std::string_view name) const {
  for (int n : kLookupOrder)
    if (Slot(n).displayName == name) return n;
  return 0;
}

std::string Versions::FolderForName(std::string_view name) const {
  for (int n : kScanOrder)
    if (Slot(n).displayName == name) return Slot(n).folderName;
  return {};
}

const VersionPaths* Versions::PathsForName(std::string_view name) const {
  for (int n : kScanOrder)
    if (Slot(n).displayName == name) return HasValidFolder(n) ? &Paths(n) : nullptr;
  return nullptr;
}

std::string Versions::FirstDamagedFile(int n) const {
  const VersionSlot& slot = Slot(n);
  const VersionPaths& paths = Paths(n);
  for (auto [size, path] : {std::pair{slot.programIntegrity.size, &paths.programPath},
                            std::pair{slot.dataIntegrity.size, &paths.dataPath}}) {
    if (size && platform::FileSizeOf(*path) != size) return *path;
  }
  return {};
}

bool Versions::IsInstalled(int n) const { return InstalledName(n) == Slot(n).displayName && HasValidFolder(n); }

}  // namespace config
