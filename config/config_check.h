// The operator's check of a 配置文件.dat: every way the launcher would
// silently misread it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace config {

struct CheckReport {
  // The 30 keys with the values the launcher would read, in lookup order.
  std::vector<std::pair<std::string, std::string>> values;
  // One line per problem; empty when the file is clean.
  std::vector<std::string> problems;
  // What works but the operator may want otherwise: a file fetched over
  // plain http that no hash guards, an address read as meant without its
  // scheme. No reason to fail the check.
  std::vector<std::string> warnings;
};

CheckReport CheckConfigBytes(std::span<const std::uint8_t> data);

// An operator's text file (UTF-8, with or without BOM, or GBK) as UTF-8.
std::string OperatorTextToUtf8(std::string_view raw);

// An operator's text file as the GBK bytes to encipher, or where the first
// character is that GBK cannot hold (1-based; column in characters). Lines
// whose first non-blank character is '#' are the operator's notes: they are
// left out, line end and all, so the launcher never reads them.
// A file that is not all UTF-8 is read in the encoding it mostly is: mostly
// UTF-8 with a few stray bytes is refused at the first stray byte, not read
// as GBK.
struct OperatorGbk {
  std::string gbk;
  std::size_t line = 0;  // 0: every character converted
  std::size_t column = 0;
  bool notText = false;  // the place holds bytes that are no text in the file's encoding
};
OperatorGbk OperatorTextToGbk(std::string_view raw);

}  // namespace config
