// SHA-256 from the system's own implementation: CNG on Windows, libcrypto
// natively. Incremental for bytes that arrive in order, and one pass over a
// whole file for bytes that did not.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False when the system could not give a hash object, or an Update failed:
  // Final then fails too, so a broken hash never passes for a digest.
  [[nodiscard]] bool ok() const;
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // The digest of everything given since construction; the object is spent.
  [[nodiscard]] bool Final(Sha256Digest& out);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

enum class HashFileResult { Ok, CannotOpen, ReadFailed, Stopped, HashFailed };

// Called between reads with the bytes hashed so far; false stops the hash.
using HashProgress = std::function<bool(std::uint64_t hashed)>;

// One pass over the whole file with a large buffer. *hashed (when given) is
// the file's length on Ok.
[[nodiscard]] HashFileResult HashFile(const std::string& path, Sha256Digest& out, const HashProgress& progress = {},
                                      std::uint64_t* hashed = nullptr);

// Lower-case hex, 64 digits.
std::string DigestToHex(const Sha256Digest& digest);
// Exactly 64 hex digits, either case; nothing otherwise.
std::optional<Sha256Digest> DigestFromHex(std::string_view hex);

}  // namespace platform
