#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/path_posix.h"
#include "platform/sha256.h"

namespace platform {

struct Sha256::Impl {
  struct Free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
  bool ok = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  impl_->ok = impl_->ctx && EVP_DigestInit_ex(impl_->ctx.get(), EVP_sha256(), nullptr) == 1;
}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

bool Sha256::ok() const { return impl_ && impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
  if (!ok() || size == 0) return;
  if (EVP_DigestUpdate(impl_->ctx.get(), data, size) != 1) impl_->ok = false;
}

bool Sha256::Final(Sha256Digest& out) {
  if (!ok()) return false;
  impl_->ok = false;  // spent
  unsigned int n = 0;
  return EVP_DigestFinal_ex(impl_->ctx.get(), out.data(), &n) == 1 && n == out.size();
}

HashFileResult HashFile(const std::string& path, Sha256Digest& out, const HashProgress& progress,
                        std::uint64_t* hashed) {
  int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HashFileResult::CannotOpen;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  Sha256 sha;
  if (!sha.ok()) return HashFileResult::HashFailed;
  // Large reads: the read calls, not the hash, dominate with small ones.
  std::vector<std::uint8_t> buffer(1 << 20);
  std::uint64_t done = 0;
  for (;;) {
    if (progress && !progress(done)) return HashFileResult::Stopped;
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HashFileResult::ReadFailed;
    if (n == 0) break;
    sha.Update(buffer.data(), static_cast<std::size_t>(n));
    done += static_cast<std::uint64_t>(n);
  }
  if (!sha.Final(out)) return HashFileResult::HashFailed;
  if (hashed) *hashed = done;
  return HashFileResult::Ok;
}

}  // namespace platform
