#include "download/resume_state.h"

#include <charconv>
#include <string_view>

#include "platform/fs.h"

namespace download {
namespace {

std::optional<std::int64_t> Number(std::string_view s) {
  std::int64_t v = 0;
  if (s.empty()) return std::nullopt;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

std::string ResumeStatePath(const std::string& partPath) { return partPath + ".resume"; }

std::optional<ResumeState> ReadResumeState(const std::string& path) {
  std::optional<platform::Bytes> bytes = platform::ReadWholeFile(path);
  if (!bytes || bytes->size() > 65536) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  ResumeState st;
  bool url = false, validator = false, total = false, done = false;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut short: not ours to trust
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "url") st.url = std::string(value), url = true;
    else if (key == "validator") st.validator = std::string(value), validator = true;
    else if (key == "total") {
      auto n = Number(value);
      if (!n) return std::nullopt;
      st.total = *n, total = true;
    } else if (key == "done") {
      // Done ranges; one range from the start is what this engine writes.
      if (!value.starts_with("0-")) return std::nullopt;
      auto n = Number(value.substr(2));
      if (!n) return std::nullopt;
      st.done = *n, done = true;
    }
  }
  if (!url || !validator || !total || !done || st.done > st.total) return std::nullopt;
  return st;
}

bool WriteResumeState(const std::string& path, const ResumeState& st) {
  if (HasLineBreak(st.url) || HasLineBreak(st.validator)) return false;
  std::string text = "url=" + st.url + "\nvalidator=" + st.validator + "\ntotal=" + std::to_string(st.total) +
                     "\ndone=0-" + std::to_string(st.done) + "\n";
  return platform::ReplaceFileAtomically(path, text);
}

std::optional<ContentRange> ParseContentRange(const std::string& value) {
  std::string_view v = value;
  if (!v.starts_with("bytes ")) return std::nullopt;
  v.remove_prefix(6);
  std::size_t dash = v.find('-'), slash = v.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
  auto first = Number(v.substr(0, dash)), last = Number(v.substr(dash + 1, slash - dash - 1)),
       total = Number(v.substr(slash + 1));
  if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

}  // namespace download
