// The install root's access list, read back through the system's own calls:
// another account must not be able to replace the programs the player's
// shortcut starts. Wine keeps no access lists on disk (it maps them to Unix
// modes), so the list is read from the descriptor the folder is created with;
// on disk only what Wine can show is checked.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/fs.h"
#include "platform/win32/protected_folder.h"
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
std::map<std::string, Entry> ReadDacl(PACL dacl) {
  std::map<std::string, Entry> out;
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
  UniqueLocalMemory sd = platform::win32::ProtectedFolderDescriptor();
  ASSERT_TRUE(sd);
  ASSERT_TRUE(::IsValidSecurityDescriptor(sd.get()));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(sd.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the parent's entries (Authenticated Users: Modify) would be inherited";
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(sd.get(), &present, &acl, &defaulted));
  ASSERT_TRUE(present && acl);  // a null list would let everyone in
  std::map<std::string, Entry> dacl = ReadDacl(acl);

  const std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());
  constexpr DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  // The user may be SYSTEM or an administrator himself: one entry then.
  std::map<std::string, DWORD> want = {{"S-1-5-18", FILE_ALL_ACCESS}, {"S-1-5-32-544", FILE_ALL_ACCESS},
                                       {"S-1-5-32-545", kReadExecute}, {user, FILE_ALL_ACCESS}};
  std::string listed;
  for (const auto& [sid, e] : dacl) listed += sid + " ";
  ASSERT_EQ(dacl.size(), want.size()) << listed;
  for (const auto& [sid, mask] : want) {
    auto it = dacl.find(sid);
    ASSERT_NE(it, dacl.end()) << sid;
    EXPECT_EQ(it->second.mask, mask) << sid;
    EXPECT_EQ(it->second.flags & (kBelow | INHERITED_ACE | INHERIT_ONLY_ACE), kBelow) << sid;
  }
  // Nobody else, Everyone and Authenticated Users least of all.
  EXPECT_EQ(dacl.count("S-1-1-0"), 0u);
  EXPECT_EQ(dacl.count("S-1-5-11"), 0u);

  // On disk: created, and as far as the system shows, nobody but the user
  // and SYSTEM may write (Wine: the Unix mode; Windows: the list above).
  testing_support::TempDir tmp;
  const std::string root = tmp.path() + "\\Tarnwick游戏";
  ASSERT_EQ(platform::CreateProtectedFolder(root), platform::ProtectedFolder::Protected);
  EXPECT_TRUE(platform::FolderExists(root));
  PACL onDisk = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(Widen(root).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &onDisk, nullptr, &read),
            static_cast<DWORD>(ERROR_SUCCESS));
  UniqueLocalMemory readOwner(read);
  ASSERT_TRUE(onDisk);
  constexpr DWORD kChange = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_FILE | FILE_DELETE_CHILD | DELETE |
                            WRITE_DAC | WRITE_OWNER;
  for (const auto& [sid, e] : ReadDacl(onDisk)) {
    if (sid == user || sid == "S-1-5-18" || sid == "S-1-5-32-544") continue;
    EXPECT_EQ(e.mask & kChange, 0u) << sid << " may change the folder";
  }
  // A second creation of the same folder fails rather than passing an old
  // folder off as a protected one.
  EXPECT_EQ(platform::CreateProtectedFolder(root), platform::ProtectedFolder::Failed);
}

}  // namespace
