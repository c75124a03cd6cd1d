// The judge of every answer: what was asked and what came back, against the
// verdict and the bytes it lets the engine use. The rate floor beside it.
#include <gtest/gtest.h>

#include <string>

#include "download/rate_floor.h"
#include "download/response_judge.h"
#include "support/download_support.h"

namespace download {
namespace {

struct JudgeCase {
  const char* name;
  AskedRange asked;
  Answer answer;
  Verdict verdict;
  FailReason reason = FailReason::None;
  std::int64_t first = 0, end = -1, total = -1;
  const char* validator = "";
};

AskedRange Fresh() { return AskedRange{}; }
AskedRange Resume(std::int64_t first, const char* validator, std::int64_t total = 5000, std::int64_t last = -1) {
  AskedRange a;
  a.first = first;
  a.last = last;
  a.validator = validator;
  a.total = total;
  return a;
}
AskedRange Ranged(std::int64_t first, std::int64_t last, std::int64_t total = 5000) {
  AskedRange a = Resume(first, "\"a\"", total, last);
  a.ranged = true;
  return a;
}
AskedRange Expecting(std::int64_t size) {
  AskedRange a;
  a.expectedSize = size;
  return a;
}
AskedRange PageName() {
  AskedRange a;
  a.pageIsFile = true;
  return a;
}
Answer Ok(const char* length, const char* etag = "\"a\"") { return Answer{200, "", length, etag, "", "", ""}; }
Answer Part(const char* range, const char* length = "", const char* etag = "\"a\"") {
  return Answer{206, range, length, etag, "", "", ""};
}
Answer Status(int status, const char* retryAfter = "") { return Answer{status, "", "", "", "", "", retryAfter}; }

TEST(ResponseJudge, EveryAnswerGetsOneVerdictAndTheBytesItCovers) {
  Answer html = Ok("300");
  html.contentType = "Text/HTML; charset=utf-8";
  Answer lastModifiedOnly = Part("bytes 0-4999/5000", "5000", "");
  lastModifiedOnly.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
  const JudgeCase cases[] = {
      // Whole files.
      {"200 with a length", Fresh(), Ok("5000"), Verdict::Accept, FailReason::None, 0, 5000, 5000, "\"a\""},
      {"200 without a length", Fresh(), Ok(""), Verdict::Accept, FailReason::None, 0, -1, -1, "\"a\""},
      {"200 to a resume drops what is kept", Resume(2500, "\"a\""), Ok("5000", "\"b\""), Verdict::Accept,
       FailReason::None, 0, 5000, 5000, "\"b\""},
      {"206 of the whole file", Fresh(), Part("bytes 0-4999/5000", "5000"), Verdict::Accept, FailReason::None, 0,
       5000, 5000, "\"a\""},
      {"Last-Modified validates without an ETag", Fresh(), lastModifiedOnly, Verdict::Accept, FailReason::None, 0,
       5000, 5000, "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"a weak ETag joins nothing", Fresh(), Part("bytes 0-4999/5000", "5000", "W/\"a\""), Verdict::Accept,
       FailReason::None, 0, 5000, 5000, ""},
      // A fresh 206 is held to its Content-Range.
      {"fresh 206 that ends early is the start of the file", Fresh(), Part("bytes 0-999/5000", "1000"),
       Verdict::Accept, FailReason::None, 0, 1000, 5000, "\"a\""},
      {"fresh 206 from another offset", Fresh(), Part("bytes 100-4999/5000", "4900"), Verdict::StartOver,
       FailReason::Protocol},
      {"206 without Content-Range", Fresh(), Part("", "5000"), Verdict::StartOver, FailReason::Protocol},
      {"206 with an unknown total", Fresh(), Part("bytes 0-999/*", "1000"), Verdict::StartOver, FailReason::Protocol},
      {"206 whose length disagrees with its range", Fresh(), Part("bytes 0-999/5000", "5000"), Verdict::StartOver,
       FailReason::Protocol},
      {"a short 206 nothing can join to", Fresh(), Part("bytes 0-999/5000", "1000", "W/\"a\""), Verdict::StartOver,
       FailReason::Protocol},
      // A resume joins only the same file.
      {"resume with the kept validator", Resume(2500, "\"a\""), Part("bytes 2500-4999/5000", "2500"),
       Verdict::Accept, FailReason::None, 2500, 5000, 5000, "\"a\""},
      {"resume answered by a changed file (If-Range ignored)", Resume(2500, "\"a\""),
       Part("bytes 2500-4999/5000", "2500", "\"b\""), Verdict::StartOver, FailReason::SizeChanged},
      {"resume answered with a weak form of the kept ETag", Resume(2500, "\"a\""),
       Part("bytes 2500-4999/5000", "2500", "W/\"a\""), Verdict::StartOver, FailReason::SizeChanged},
      {"resume answered without a validator", Resume(2500, "\"a\""), Part("bytes 2500-4999/5000", "2500", ""),
       Verdict::StartOver, FailReason::SizeChanged},
      {"resume of a file that changed size", Resume(2500, "\"a\""), Part("bytes 2500-5999/6000", "3500"),
       Verdict::StartOver, FailReason::SizeChanged},
      {"resume answered from the wrong byte", Resume(2500, "\"a\""), Part("bytes 0-4999/5000", "5000"),
       Verdict::StartOver, FailReason::Protocol},
      {"416 to a resume", Resume(2500, "\"a\""), Status(416), Verdict::StartOver, FailReason::SizeChanged},
      // Ranged connections.
      {"a range capped short is progress", Ranged(1000, 3999), Part("bytes 1000-1999/5000", "1000"),
       Verdict::Accept, FailReason::None, 1000, 2000, 5000, "\"a\""},
      {"a range answered past what was asked is read only as asked", Ranged(1000, 1999),
       Part("bytes 1000-4999/5000", "4000"), Verdict::Accept, FailReason::None, 1000, 2000, 5000, "\"a\""},
      {"a range answered with the whole file falls back to one stream", Ranged(1000, 3999), Ok("5000", "\"b\""),
       Verdict::SingleStream, FailReason::None, 0, 5000, 5000, "\"b\""},
      // Statuses.
      {"404", Fresh(), Status(404), Verdict::Fail, FailReason::HttpStatus},
      {"503 with Retry-After", Fresh(), Status(503, "30"), Verdict::Retry, FailReason::HttpStatus},
      {"416 to a fresh request", Fresh(), Status(416), Verdict::Fail, FailReason::HttpStatus},
      // Hostile sizes end before any arithmetic.
      {"Content-Range total INT64_MAX", Fresh(), Part("bytes 0-0/9223372036854775807", "1"), Verdict::Fail,
       FailReason::Protocol},
      {"Content-Range total of 20 digits", Fresh(), Part("bytes 0-0/99999999999999999999", "1"), Verdict::StartOver,
       FailReason::Protocol},
      {"Content-Range */*", Fresh(), Part("bytes */*", "1"), Verdict::StartOver, FailReason::Protocol},
      {"Content-Length INT64_MAX", Fresh(), Ok("9223372036854775807"), Verdict::Fail, FailReason::Protocol},
      {"Content-Length negative", Fresh(), Ok("-5"), Verdict::Fail, FailReason::Protocol},
      {"Content-Length of 20 digits", Fresh(), Ok("18446744073709551616"), Verdict::Fail, FailReason::Protocol},
      {"Content-Length not digits", Fresh(), Ok("12ab"), Verdict::Fail, FailReason::Protocol},
      {"Content-Length just above the largest file", Fresh(), Ok("1125899906842625"), Verdict::Fail,
       FailReason::Protocol},
      {"Content-Length of the largest file", Fresh(), Ok("1125899906842624"), Verdict::Accept, FailReason::None, 0,
       kMaxFileBytes, kMaxFileBytes, "\"a\""},
      // The operator's size, and pages instead of files.
      {"another size than stated", Expecting(4999), Ok("5000"), Verdict::Fail, FailReason::SizeMismatch},
      {"the stated size", Expecting(5000), Ok("5000"), Verdict::Accept, FailReason::None, 0, 5000, 5000, "\"a\""},
      {"a login page for data.dat", Fresh(), html, Verdict::Fail, FailReason::WebPage},
      {"a page for a file that is a page", PageName(), html, Verdict::Accept, FailReason::None, 0, 300, 300,
       "\"a\""},
  };
  for (const JudgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Judgement j = JudgeAnswer(c.asked, c.answer);
    EXPECT_EQ(j.verdict, c.verdict);
    EXPECT_EQ(j.reason, c.reason);
    if (c.verdict != Verdict::Accept && c.verdict != Verdict::SingleStream) continue;
    EXPECT_EQ(j.first, c.first);
    EXPECT_EQ(j.end, c.end);
    EXPECT_EQ(j.total, c.total);
    EXPECT_EQ(j.validator, c.validator);
  }
  EXPECT_EQ(JudgeAnswer(Fresh(), Status(503, "30")).retryAfterMs, 30000);
  EXPECT_EQ(JudgeAnswer(Fresh(), Status(429, "99999")).retryAfterMs, kMaxRetryAfterMs);
  EXPECT_EQ(JudgeAnswer(Fresh(), Status(503, "soon")).retryAfterMs, 0);
  EXPECT_TRUE(IsWebPageName("C:\\game\\news.HTML"));
  EXPECT_TRUE(IsWebPageName("news.htm"));
  EXPECT_FALSE(IsWebPageName("data.dat"));
  EXPECT_FALSE(IsWebPageName("html"));
}

TEST(RateFloor, ATrickleStarvesOnlyOnceAWholeWindowFellShort) {
  testing_support::ManualClock clock;
  clock.Set(1000);
  RateFloor floor(clock, 1024, 30000);
  // A byte every half second: nothing is judged before the window is over.
  std::uint32_t t = 1000;
  bool starved = false;
  for (int i = 0; i < 59 && !starved; ++i) {
    clock.Set(t += 500);
    starved = floor.Starved(1);
  }
  EXPECT_FALSE(starved);
  clock.Set(t += 500);
  EXPECT_TRUE(floor.Starved(1));
  // Exactly the floor over the next window is enough; a byte less is not.
  clock.Set(t += 30000);
  EXPECT_FALSE(floor.Starved(1024 * 30));
  clock.Set(t += 30000);
  EXPECT_TRUE(floor.Starved(1024 * 30 - 1));
  // A new answer starts a new window.
  clock.Set(t += 29000);
  floor.Restart();
  clock.Set(t += 2000);
  EXPECT_FALSE(floor.Starved(1));
  // The clock wraps like the tick count.
  clock.Set(0xFFFFFF00u);
  RateFloor wrapped(clock, 1024, 30000);
  clock.Set(30000);
  EXPECT_TRUE(wrapped.Starved(10));
  // No floor, no starving.
  RateFloor none(clock, 0, 1000);
  clock.Set(900000);
  EXPECT_FALSE(none.Starved(0));
}

}  // namespace
}  // namespace download
