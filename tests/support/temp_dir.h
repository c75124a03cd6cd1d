// A fresh folder for one test, removed afterwards. Paths use "\" like the core.
#pragma once
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Removes a folder tree given in the core's "\" form.
void RemoveTree(const std::string& path);

}  // namespace testing_support
