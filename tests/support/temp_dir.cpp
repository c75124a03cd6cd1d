#include "support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <random>

#include "platform/system.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {
std::string ToCore(const fs::path& p) {
  std::string s = p.generic_u8string().empty() ? std::string() : std::string(reinterpret_cast<const char*>(p.u8string().c_str()));
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}
fs::path FromCore(const std::string& s) {
  std::string t = s;
  for (char& c : t)
    if (c == '\\') c = '/';
  return fs::path(std::u8string(t.begin(), t.end()));
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  fs::path base = fs::temp_directory_path();
  fs::path p = base / ("tarnwick-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  fs::create_directories(p);
  path_ = ToCore(p);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::path p = FromCore(path);
  // read-only files would block removal on Windows
  for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(p, ec);
}

}  // namespace testing_support
