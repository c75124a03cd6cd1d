// The install root's access list, read back from the system: another account
// must not be able to replace the programs the player's shortcut starts.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/fs.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "support/temp_dir.h"

namespace {

using platform::win32::UniqueLocalMemory;
using platform::win32::Widen;

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return "?";
  UniqueLocalMemory owner(text);
  std::wstring w = text;
  return std::string(w.begin(), w.end());  // SIDs are ASCII
}

std::string CurrentUser() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  platform::win32::UniqueKernelHandle token(raw);
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return {};
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

struct Entry {
  DWORD mask;
  BYTE flags;
};

// Allowed entries by SID text; *protectedDacl: nothing inherited from above.
std::map<std::string, Entry> ReadDacl(const std::string& path, bool* protectedDacl) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  std::wstring wide = Widen(path);
  std::map<std::string, Entry> out;
  if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
    return out;
  UniqueLocalMemory owner(sd);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(sd, &control, &revision);
  *protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      out["type " + std::to_string(header->AceType)] = {0, header->AceFlags};
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    Entry& e = out[SidText(&allowed->SidStart)];
    e.mask |= allowed->Mask;
    e.flags = header->AceFlags;
  }
  return out;
}

TEST(ProtectedFolder, OnlyTheUserSystemAndAdministratorsMayChangeIt) {
  testing_support::TempDir tmp;
  const std::string root = tmp.path() + "\\Tarnwick游戏";
  ASSERT_EQ(platform::CreateProtectedFolder(root), platform::ProtectedFolder::Protected);
  EXPECT_TRUE(platform::FolderExists(root));

  bool isProtected = false;
  std::map<std::string, Entry> dacl = ReadDacl(root, &isProtected);
  EXPECT_TRUE(isProtected) << "the parent's entries (Authenticated Users: Modify) would be inherited";
  const std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());
  constexpr DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  // The user may be SYSTEM or an administrator himself: one entry then.
  std::map<std::string, DWORD> want = {{"S-1-5-18", FILE_ALL_ACCESS}, {"S-1-5-32-544", FILE_ALL_ACCESS},
                                       {"S-1-5-32-545", kReadExecute}, {user, FILE_ALL_ACCESS}};
  ASSERT_EQ(dacl.size(), want.size()) << "entries for: " << [&] {
    std::string s;
    for (const auto& [sid, e] : dacl) s += sid + " ";
    return s;
  }();
  for (const auto& [sid, mask] : want) {
    auto it = dacl.find(sid);
    ASSERT_NE(it, dacl.end()) << sid;
    EXPECT_EQ(it->second.mask, mask) << sid;
    EXPECT_EQ(it->second.flags & (kBelow | INHERITED_ACE), kBelow) << sid;
  }
  // Nobody else, Everyone and Authenticated Users least of all.
  EXPECT_EQ(dacl.count("S-1-1-0"), 0u);
  EXPECT_EQ(dacl.count("S-1-5-11"), 0u);

  // A second creation of the same folder fails rather than passing an old
  // folder off as a protected one.
  EXPECT_EQ(platform::CreateProtectedFolder(root), platform::ProtectedFolder::Failed);
}

}  // namespace
