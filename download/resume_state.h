// What a kept ".part" holds, in a small text file beside it, so that a later
// attempt (in this run or after a restart) asks only for what is missing.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace download {

// Bytes [first, end) of a file.
struct ByteRange {
  std::int64_t first = 0, end = 0;
  bool operator==(const ByteRange&) const = default;
};

struct ResumeState {
  std::string url;
  std::string validator;  // the ETag, else Last-Modified, as the server sent it
  std::int64_t total = 0;
  // The ranges of the file that are in the .part, sorted, apart, not empty.
  std::vector<ByteRange> done;
};

// Sorted, overlapping and touching ranges joined, empty ones dropped.
std::vector<ByteRange> MergeRanges(std::vector<ByteRange> ranges);
std::int64_t RangeBytes(const std::vector<ByteRange>& ranges);
// Where the first missing byte is: the end of a done range that starts at 0.
std::int64_t DonePrefix(const std::vector<ByteRange>& ranges);
// What [0, total) lacks.
std::vector<ByteRange> MissingRanges(const std::vector<ByteRange>& done, std::int64_t total);

// "<part>.resume" beside the ".part".
std::string ResumeStatePath(const std::string& partPath);
// Nothing when the file is missing, unreadable or not of this form. The
// one-range form of older launchers ("done=0-N") reads as one range.
std::optional<ResumeState> ReadResumeState(const std::string& path);
[[nodiscard]] bool WriteResumeState(const std::string& path, const ResumeState& state);

// "bytes first-last/total" of a 206 answer; nothing when malformed.
struct ContentRange {
  std::int64_t first = 0, last = 0, total = 0;
};
std::optional<ContentRange> ParseContentRange(const std::string& value);

}  // namespace download
