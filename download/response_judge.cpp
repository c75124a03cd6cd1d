#include "download/response_judge.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

#include "download/resume_state.h"

namespace download {
namespace {

// A Content-Length the server sent: digits only, and no larger than any file.
std::optional<std::int64_t> Length(std::string_view s) {
  std::int64_t v = 0;
  if (s.empty() || s.size() > 16 || s.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::from_chars(s.data(), s.data() + s.size(), v);
  if (v > kMaxFileBytes) return std::nullopt;
  return v;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

Judgement Refused(Verdict v, FailReason reason) {
  Judgement j;
  j.verdict = v;
  j.reason = reason;
  return j;
}

}  // namespace

bool IsWebPageName(const std::string& path) {
  std::string lower(path.size() >= 5 ? path.substr(path.size() - 5) : path);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.ends_with(".htm") || lower.ends_with(".html");
}

Judgement JudgeAnswer(const AskedRange& asked, const Answer& answer) {
  Judgement j;
  j.httpStatus = answer.status;
  const int status = answer.status;
  if (status == 416 && !asked.validator.empty()) return Refused(Verdict::StartOver, FailReason::SizeChanged);
  if (status < 200 || status >= 300) {
    j.reason = FailReason::HttpStatus;
    const bool passing = status >= 500 || status == 408 || status == 429;
    j.verdict = passing ? Verdict::Retry : Verdict::Fail;
    std::string_view after = answer.retryAfter;
    if ((status == 429 || status == 503) && !after.empty() && after.size() < 6 &&
        after.find_first_not_of("0123456789") == std::string_view::npos) {
      int seconds = 0;
      std::from_chars(after.data(), after.data() + after.size(), seconds);
      j.retryAfterMs = std::min(seconds * 1000, kMaxRetryAfterMs);
    }
    return j;
  }

  // Only a strong ETag, or else Last-Modified, proves two answers are one file.
  if (!answer.etag.empty()) {
    if (!answer.etag.starts_with("W/") && !answer.etag.starts_with("w/")) j.validator = answer.etag;
  } else {
    j.validator = answer.lastModified;
  }
  std::optional<std::int64_t> length;
  if (!answer.contentLength.empty()) {
    length = Length(answer.contentLength);
    if (!length) return Refused(Verdict::Fail, FailReason::Protocol);
  }

  if (status == 206) {
    std::optional<ContentRange> range = ParseContentRange(answer.contentRange);
    if (range && range->total > kMaxFileBytes) return Refused(Verdict::Fail, FailReason::Protocol);
    // Bytes from elsewhere than asked, or of no stated place, cannot be used.
    if (!range || range->first != asked.first || (length && *length != range->last - range->first + 1))
      return Refused(Verdict::StartOver, FailReason::Protocol);
    // Kept bytes join only bytes of the same file, proven by the same validator.
    if (!asked.validator.empty() && (j.validator != asked.validator || (asked.total >= 0 && range->total != asked.total)))
      return Refused(Verdict::StartOver, FailReason::SizeChanged);
    j.first = range->first;
    j.end = range->last + 1;
    if (asked.last >= 0) j.end = std::min(j.end, asked.last + 1);
    j.total = range->total;
    // A part of the file that nothing can join to the rest is no use.
    if (j.end < j.total && j.validator.empty()) return Refused(Verdict::StartOver, FailReason::Protocol);
  } else {
    // The whole file, whatever was asked.
    j.first = 0;
    j.total = length ? *length : -1;
    j.end = j.total;
  }
  if (asked.expectedSize >= 0 && j.total >= 0 && j.total != asked.expectedSize)
    return Refused(Verdict::Fail, FailReason::SizeMismatch);
  // A login page of a captive portal, say, is not the file.
  if (!asked.pageIsFile && StartsWithNoCase(answer.contentType, "text/html"))
    return Refused(Verdict::Fail, FailReason::WebPage);
  j.verdict = status != 206 && asked.ranged ? Verdict::SingleStream : Verdict::Accept;
  return j;
}

}  // namespace download
