#include "download/resume_state.h"

#include <algorithm>
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
      // "first-end" pairs, comma separated, each end exclusive.
      while (!value.empty()) {
        std::size_t comma = value.find(',');
        std::string_view pair = value.substr(0, comma);
        std::size_t dash = pair.find('-');
        if (dash == std::string_view::npos) return std::nullopt;
        auto first = Number(pair.substr(0, dash)), end = Number(pair.substr(dash + 1));
        if (!first || !end || *first > *end) return std::nullopt;
        st.done.push_back({*first, *end});
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        if (comma != std::string_view::npos && value.empty()) return std::nullopt;
      }
      done = true;
    }
  }
  if (!url || !validator || !total || !done) return std::nullopt;
  for (const ByteRange& r : st.done)
    if (r.end > st.total) return std::nullopt;
  st.done = MergeRanges(std::move(st.done));
  return st;
}

std::vector<ByteRange> MergeRanges(std::vector<ByteRange> ranges) {
  std::erase_if(ranges, [](const ByteRange& r) { return r.end <= r.first; });
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
  std::vector<ByteRange> out;
  for (const ByteRange& r : ranges) {
    if (!out.empty() && r.first <= out.back().end) out.back().end = std::max(out.back().end, r.end);
    else out.push_back(r);
  }
  return out;
}

std::int64_t RangeBytes(const std::vector<ByteRange>& ranges) {
  std::int64_t n = 0;
  for (const ByteRange& r : ranges) n += r.end - r.first;
  return n;
}

std::int64_t DonePrefix(const std::vector<ByteRange>& ranges) {
  return !ranges.empty() && ranges.front().first == 0 ? ranges.front().end : 0;
}

std::vector<ByteRange> MissingRanges(const std::vector<ByteRange>& done, std::int64_t total) {
  std::vector<ByteRange> out;
  std::int64_t at = 0;
  for (const ByteRange& r : MergeRanges(done)) {
    if (r.first > at) out.push_back({at, std::min(r.first, total)});
    at = std::max(at, r.end);
  }
  if (at < total) out.push_back({at, total});
  return out;
}

bool WriteResumeState(const std::string& path, const ResumeState& st) {
  if (HasLineBreak(st.url) || HasLineBreak(st.validator)) return false;
  std::string done;
  for (const ByteRange& r : MergeRanges(st.done))
    done += (done.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.end);
  std::string text = "url=" + st.url + "\nvalidator=" + st.validator + "\ntotal=" + std::to_string(st.total) +
                     "\ndone=" + done + "\n";
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
