// CNG's SHA-256. bcrypt.dll is delay-loaded (cmake/delayload.cmake): it is
// first needed long after wWinMain has limited the DLL search to System32.
#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "platform/sha256.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::BCryptDestroyHash(h); }
};

}  // namespace

struct Sha256::Impl {
  win32::UniqueHandle<AlgorithmTraits> algorithm;
  win32::UniqueHandle<HashTraits> hash;  // destroyed before its provider
  bool ok = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
  impl_->algorithm.reset(alg);
  BCRYPT_HASH_HANDLE h = nullptr;
  // No object buffer: CNG keeps the hash state itself (Windows 7 and later).
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0))) return;
  impl_->hash.reset(h);
  impl_->ok = true;
}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

bool Sha256::ok() const { return impl_ && impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
  auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
  while (ok() && size > 0) {
    ULONG n = static_cast<ULONG>(size > 0x40000000u ? 0x40000000u : size);
    if (!BCRYPT_SUCCESS(::BCryptHashData(impl_->hash.get(), p, n, 0))) impl_->ok = false;
    p += n;
    size -= n;
  }
}

bool Sha256::Final(Sha256Digest& out) {
  if (!ok()) return false;
  impl_->ok = false;  // spent
  return BCRYPT_SUCCESS(::BCryptFinishHash(impl_->hash.get(), out.data(), static_cast<ULONG>(out.size()), 0));
}

HashFileResult HashFile(const std::string& path, Sha256Digest& out, const HashProgress& progress,
                        std::uint64_t* hashed) {
  win32::UniqueFileHandle f(::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!f) return HashFileResult::CannotOpen;
  Sha256 sha;
  if (!sha.ok()) return HashFileResult::HashFailed;
  std::vector<std::uint8_t> buffer(1 << 20);
  std::uint64_t done = 0;
  for (;;) {
    if (progress && !progress(done)) return HashFileResult::Stopped;
    DWORD n = 0;
    if (!::ReadFile(f.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
      return HashFileResult::ReadFailed;
    if (n == 0) break;
    sha.Update(buffer.data(), n);
    done += n;
  }
  if (!sha.Final(out)) return HashFileResult::HashFailed;
  if (hashed) *hashed = done;
  return HashFileResult::Ok;
}

}  // namespace platform
