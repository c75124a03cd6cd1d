// Shell links through IShellLinkW and IPersistFile: no script file is written
// anywhere, so nothing in the temporary folder can be swapped or flagged.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>

#include "platform/fs.h"
#include "platform/shortcut.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/wide.h"

namespace platform {
using win32::ComPtr;
using win32::Narrow;
using win32::Widen;

namespace {

// COM for the calling thread for the length of one call. RPC_E_CHANGED_MODE
// means COM is already up in another apartment model: usable, but not ours to
// uninitialise.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

bool OpenLink(ComPtr<IShellLinkW>& link) {
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.out_void());
  return SUCCEEDED(hr) && link;
}

}  // namespace

bool CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingDirectory) {
  ComScope com;
  if (!com.usable()) return false;
  ComPtr<IShellLinkW> link;
  if (!OpenLink(link)) return false;
  if (FAILED(link->SetPath(Widen(target).c_str()))) return false;
  if (FAILED(link->SetWorkingDirectory(Widen(workingDirectory).c_str()))) return false;
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.out_void())) || !file)
    return false;
  if (FAILED(file->Save(Widen(linkPath).c_str(), TRUE))) return false;
  return FileExists(linkPath);
}

bool ReadShortcut(const std::string& linkPath, ShortcutInfo& info) {
  ComScope com;
  if (!com.usable()) return false;
  ComPtr<IShellLinkW> link;
  if (!OpenLink(link)) return false;
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.out_void())) || !file)
    return false;
  if (FAILED(file->Load(Widen(linkPath).c_str(), STGM_READ))) return false;
  std::wstring buf(32768, L'\0');
  if (FAILED(link->GetPath(buf.data(), static_cast<int>(buf.size()), nullptr, SLGP_RAWPATH))) return false;
  info.target = Narrow(buf.c_str());
  buf.assign(buf.size(), L'\0');
  if (FAILED(link->GetWorkingDirectory(buf.data(), static_cast<int>(buf.size())))) return false;
  info.workingDirectory = Narrow(buf.c_str());
  return true;
}

}  // namespace platform
