// What a kept ".part" holds, in a small text file beside it, so that a later
// attempt (in this run or after a restart) asks only for what is missing.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace download {

struct ResumeState {
  std::string url;
  std::string validator;  // the ETag, else Last-Modified, as the server sent it
  std::int64_t total = 0;
  std::int64_t done = 0;  // bytes [0, done) of the file are in the .part
};

// "<part>.resume" beside the ".part".
std::string ResumeStatePath(const std::string& partPath);
// Nothing when the file is missing, unreadable or not of this form.
std::optional<ResumeState> ReadResumeState(const std::string& path);
[[nodiscard]] bool WriteResumeState(const std::string& path, const ResumeState& state);

// "bytes first-last/total" of a 206 answer; nothing when malformed.
struct ContentRange {
  std::int64_t first = 0, last = 0, total = 0;
};
std::optional<ContentRange> ParseContentRange(const std::string& value);

}  // namespace download
