// One judge for every answer the engine gets, the single stream's and each
// ranged connection's alike: what was asked and what came back decide which
// bytes of the file the body holds, or why none of it may be used.
#pragma once
#include <cstdint>
#include <string>

#include "download/download_status.h"

namespace download {

// No file is larger: a bigger announced size is a broken or hostile answer,
// refused before any arithmetic is done with it.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 50;

struct AskedRange {
  std::int64_t first = 0;   // the Range's first byte (0 for a fresh file)
  std::int64_t last = -1;   // its last byte; -1 up to the end
  // The validator sent in If-Range with kept bytes; empty when nothing kept
  // is to be joined to this answer.
  std::string validator;
  std::int64_t total = -1;  // the size the kept bytes belong to; -1 none
  bool ranged = false;      // one connection of several
  std::int64_t expectedSize = -1;  // the operator's size; -1 none
  bool pageIsFile = false;  // a hash is stated, or the file is a web page
};

struct Answer {
  int status = 0;
  // Header values as the server sent them; empty when absent.
  std::string contentRange, contentLength, etag, lastModified, contentType, retryAfter;
};

enum class Verdict {
  Accept,        // bytes [first, end) of the file are in the body
  SingleStream,  // a ranged connection got the whole file: go on with this answer alone
  StartOver,     // nothing kept fits this answer: drop the part, ask again from byte 0
  Retry,         // a passing refusal: ask again after the wait
  Fail,          // the file cannot be had from this answer
};

struct Judgement {
  Verdict verdict = Verdict::Fail;
  FailReason reason = FailReason::None;
  int httpStatus = 0;
  int retryAfterMs = 0;
  std::int64_t first = 0;
  std::int64_t end = -1;    // -1: up to the end of the body
  std::int64_t total = -1;  // the file's size; -1 unknown
  // What may join this answer's bytes to another's: a strong ETag, else
  // Last-Modified; empty when the bytes stand alone (a weak ETag).
  std::string validator;
};

// The longest Retry-After waited for.
inline constexpr int kMaxRetryAfterMs = 60000;

[[nodiscard]] Judgement JudgeAnswer(const AskedRange& asked, const Answer& answer);

// True for a name the server may rightly answer with a web page.
[[nodiscard]] bool IsWebPageName(const std::string& path);

}  // namespace download
