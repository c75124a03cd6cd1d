// The fault matrix against real loopback servers (nginx and the fault server
// of tests/servers), on this build's transport: libcurl natively, WinHTTP in
// the Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "download/download_task.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "support/download_support.h"
#include "support/temp_dir.h"

namespace download {
namespace {

using testing_support::CounterPattern;
using testing_support::ReportLog;

constexpr std::int64_t kBigSize = 8 * 1024 * 1024 + 123;  // tests/servers/start.sh
constexpr std::int64_t kSmallSize = 5000;

std::string Http(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase()) + path;
}
std::string Https(const std::string& path) {  // a host name: WinHTTP refuses certificates for bare addresses
  return "https://localhost:" + std::to_string(testing_support::TestPortBase() + 1) + path;
}
std::string Fault(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + path;
}
// HTTPS servers whose certificate a client must refuse (tests/servers/start.sh).
std::string SelfSigned(const std::string& path) {
  return "https://localhost:" + std::to_string(testing_support::TestPortBase() + 3) + path;
}
std::string WrongName(const std::string& path) {
  return "https://localhost:" + std::to_string(testing_support::TestPortBase() + 4) + path;
}

// A fault-server key of this run: its request counters start at zero.
std::string Key(const char* name) {
  return name + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// The first failure any transport of a task reported; the connections of a
// ranged download report from their own threads.
struct FirstError {
  std::mutex mutex;
  std::string text;
};

// The build's transport, keeping the reason of its first failure for the test.
class RecordingTransport final : public platform::HttpTransport {
 public:
  explicit RecordingTransport(std::shared_ptr<FirstError> error)
      : inner_(platform::CreateHttpTransport()), error_(std::move(error)) {}
  bool Send(const platform::HttpGetRequest& r) override { return Note(inner_->Send(r)); }
  int StatusCode() override { return inner_->StatusCode(); }
  std::int64_t ContentLength() override { return inner_->ContentLength(); }
  bool QueryDataAvailable(std::uint32_t& avail) override { return Note(inner_->QueryDataAvailable(avail)); }
  bool ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) override {
    return Note(inner_->ReadData(buffer, size, read));
  }
  void Cancel() override { inner_->Cancel(); }
  void Close() override { inner_->Close(); }
  std::string LastError() override { return inner_->LastError(); }
  platform::HttpFailure LastFailure() override { return inner_->LastFailure(); }
  std::string ResponseHeader(std::string_view name) override { return inner_->ResponseHeader(name); }

 private:
  bool Note(bool ok) {
    if (ok) return ok;
    std::string why = inner_->LastError();
    std::lock_guard<std::mutex> lock(error_->mutex);
    if (error_->text.empty()) error_->text = why;
    return ok;
  }
  std::unique_ptr<platform::HttpTransport> inner_;
  std::shared_ptr<FirstError> error_;
};

struct Outcome {
  std::vector<std::int32_t> statuses;
  ProgressReport last;
  bool eventCame = false;
  bool fileExists = false;
  std::string file;
  bool tempLeft = false;
  int ms = 0;
  std::vector<ProgressReport> retries;
  ProgressReport failure;
  std::string transportError;  // the first failure the transport reported
};

// The least a connection must bring, averaged over a window, before it
// counts as stalled; zero leaves the task's own.
struct MinRate {
  std::int64_t bytesPerSecond = 0;
  int windowMs = 0;
};


// One attempt unless asked: the retry rule has cases of its own below.
Outcome Download(const std::string& url, int stallLimitMs = 0, const std::string& oldContent = {},
                 TaskOptions options = {1, 50, true}, const std::string& keepIn = {},
                 const std::string& name = "target.bin", MinRate minRate = {}) {
  testing_support::TempDir dir;
  std::string target = (keepIn.empty() ? dir.path() : keepIn) + "\\" + name;
  if (!oldContent.empty()) {
    EXPECT_TRUE(platform::WriteFileBytes(target, oldContent));
  }
  ReportLog log;
  auto done = std::make_shared<CompletionEvent>();
  Outcome o;
  auto error = std::make_shared<FirstError>();
  auto t0 = std::chrono::steady_clock::now();
  {
    DownloadTask task(platform::SystemClock(), [error] { return std::make_unique<RecordingTransport>(error); });
    if (stallLimitMs) task.SetStallLimitMs(stallLimitMs);
    if (minRate.bytesPerSecond > 0) task.SetMinRate(minRate.bytesPerSecond, minRate.windowMs);
    task.SetOptions(options);
    task.Start(url, target, log.Callback(), 1, done);
    o.eventCame = done->WaitFor(60000);
    o.ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - t0).count());
    EXPECT_TRUE(task.Stop());
  }
  o.statuses = log.Statuses();
  auto reports = log.Reports();
  if (!reports.empty()) o.last = reports.back();
  o.fileExists = platform::FileExists(target);
  if (auto bytes = platform::ReadWholeFile(target)) o.file.assign(bytes->begin(), bytes->end());
  o.tempLeft = platform::FileExists(target + DownloadTask::kTempSuffix);
  for (const ProgressReport& r : reports) {
    if (r.status == kRetrying) o.retries.push_back(r);
    if (r.status == kFailed) o.failure = r;
  }
  o.transportError = error->text;  // the task, and with it the worker, has ended
  return o;
}

// How many requests the fault server saw under a key.
std::int64_t Requests(const std::string& key) { return std::stoll(Download(Fault("/count?key=" + key)).file); }

void ExpectComplete(const Outcome& o, std::int64_t size, std::int64_t announced) {
  EXPECT_TRUE(o.eventCame);
  ASSERT_FALSE(o.statuses.empty());
  // Retries that came before any answer precede Started.
  auto first = std::find_if(o.statuses.begin(), o.statuses.end(), [](std::int32_t s) { return s != kRetrying; });
  ASSERT_NE(first, o.statuses.end());
  EXPECT_EQ(*first, kStarted);
  EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kStarted), 1);
  EXPECT_EQ(o.statuses.back(), kFinished);
  EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kFailed), 0);
  EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kFinished), 1);
  EXPECT_EQ(o.last.done, size);
  EXPECT_EQ(o.last.total, announced);
  EXPECT_EQ(o.last.remaining, announced ? announced - size : 0);
  EXPECT_EQ(o.last.fraction, announced ? 1.0f : 0.0f);
  EXPECT_EQ(o.file.size(), static_cast<std::size_t>(size));
  EXPECT_TRUE(o.file == CounterPattern(static_cast<std::size_t>(size))) << "content differs";
  EXPECT_FALSE(o.tempLeft);
}

// Failed then Finished as the last two reports, the event came, and nothing
// under the target name (or the old file untouched).
void ExpectFailed(const Outcome& o, const std::string& oldContent = {}, bool kept = false) {
  EXPECT_TRUE(o.eventCame);
  ASSERT_GE(o.statuses.size(), 2u);
  EXPECT_EQ(o.statuses[o.statuses.size() - 2], kFailed);
  EXPECT_EQ(o.statuses.back(), kFinished);
  EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kFailed), 1);
  EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kFinished), 1);
  if (oldContent.empty()) {
    EXPECT_FALSE(o.fileExists);
  } else {
    EXPECT_EQ(o.file, oldContent);
  }
  EXPECT_EQ(o.tempLeft, kept);
}

TEST(DownloadServers, NginxLargeFileAnsweredWith206) {
  ExpectComplete(Download(Http("/big.bin")), kBigSize, kBigSize);
}

TEST(DownloadServers, NginxWithoutRangeSupportAnswers200WithTheSameFile) {
  ExpectComplete(Download(Http("/norange/big.bin")), kBigSize, kBigSize);
}

TEST(DownloadServers, NginxRedirectIsFollowed) {
  ExpectComplete(Download(Http("/redirect")), kBigSize, kBigSize);
}

TEST(DownloadServers, HttpsWithTheTestAuthority) {
  ExpectComplete(Download(Https("/small.bin")), kSmallSize, kSmallSize);
  ExpectComplete(Download(Https("/redirect")), kSmallSize, kSmallSize);
}

// A certificate failure as each backend words it: libcurl's text for a
// refused peer certificate; WinHTTP's secure-failure code, or the secure-
// channel code that Wine gives for every TLS failure. A dead port reads
// "Couldn't connect" or 12029 and matches none.
bool IsCertificateFailure(const std::string& error) {
  for (const char* mark : {"SSL peer certificate", "SSL certificate problem", "failed: 12175", "failed: 12157"})
    if (error.find(mark) != std::string::npos) return true;
  return false;
}

TEST(DownloadServers, HttpsCertificatesThatDoNotVouchForTheHostAreRefused) {
  struct Case {
    const char* what;
    std::string url;
  };
  const Case cases[] = {
      {"self-signed certificate for localhost", SelfSigned("/small.bin")},
      {"test authority's certificate without localhost", WrongName("/small.bin")},
      {"redirect to the self-signed server", Https("/to-self-signed")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = Download(c.url, 0, {}, {6, 50, true});  // permanent: never tried again
    ExpectFailed(o);
    EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kStarted), 0);
    EXPECT_TRUE(o.retries.empty());
    EXPECT_EQ(o.failure.reason, FailReason::Tls);
    EXPECT_TRUE(IsCertificateFailure(o.transportError)) << "transport reported: " << o.transportError;
  }
  // The same file from the server the test authority vouches for.
  ExpectComplete(Download(Https("/small.bin")), kSmallSize, kSmallSize);
}

TEST(DownloadServers, HttpsToHttpRedirectIsRefused) {
  ExpectFailed(Download(Https("/to-http")));
}

TEST(DownloadServers, OlderLongerTargetIsReplacedAndEndsAtTheLastByte) {
  ExpectComplete(Download(Fault("/ok?size=3000"), 0, std::string(50000, 'o')), 3000, 3000);
}

TEST(DownloadServers, SendsTheFixedRequest) {
  Outcome o = Download(Fault("/echo-request"));
  EXPECT_EQ(o.statuses.back(), kFinished);
  EXPECT_NE(o.file.find("GET /echo-request HTTP/1.1\r\n"), std::string::npos) << o.file;
  EXPECT_NE(o.file.find(std::string("User-Agent: ") + platform::kDownloadUserAgent + "\n"), std::string::npos)
      << o.file;
  EXPECT_NE(o.file.find("Range: bytes=0-\n"), std::string::npos) << o.file;
  EXPECT_EQ(o.file.find("Cookie"), std::string::npos) << o.file;
}

TEST(DownloadServers, NoContentLengthAndChunkedEndAtTheEndOfTheBody) {
  ExpectComplete(Download(Fault("/nolength?size=300001")), 300001, 0);
  ExpectComplete(Download(Fault("/chunked?size=300001")), 300001, 0);
  ExpectComplete(Download(Fault("/redirect?size=70000")), 70000, 70000);
}

TEST(DownloadServers, ErrorStatusesFailAndLeaveTheOldFileAlone) {
  ExpectFailed(Download(Fault("/status/404")));
  ExpectFailed(Download(Fault("/status/500"), 0, "installed program"), "installed program");
}

TEST(DownloadServers, ShortBodyAndResetMidBodyFail) {
  Outcome shortBody = Download(Fault("/short?announce=100000&send=40000"));
  ExpectFailed(shortBody);
  EXPECT_EQ(shortBody.last.total, 100000);
  EXPECT_LE(shortBody.last.done, 40000);
  ExpectFailed(Download(Fault("/reset?announce=100000&send=40000")));
}

TEST(DownloadServers, SilentAndTricklingServersEndInBoundedTime) {
  // Silence ends at the stall limit; a trickle never falls silent, so only
  // the minimum rate ends it, or other connections finish its range.
  struct Row {
    const char* what;
    std::string url;
    MinRate minRate;
    std::int64_t size;  // 0: fails as stalled
    int minMs, maxMs;
    TaskOptions options{1, 50, true};
    bool kept = false;  // a resumable part stays for the next start
  };
  const MinRate slowest{1024, 3000};
  for (const Row& r : {
           Row{"silent after 20000 bytes", Fault("/stall?send=20000"), {}, 0, 1400, 15000},
           Row{"silent before the headers", Fault("/stall-headers"), {}, 0, 1400, 15000},
           Row{"a byte every half second", Fault("/trickle?size=300000&etag=t"), slowest, 0, 0, 15000, {1, 50, true},
               true},
           Row{"a header line every half second", Fault("/trickle?trickle=headers"), slowest, 0, 0, 15000},
           Row{"one range trickles", Fault("/trickle?etag=tr&trickle=" + std::to_string(15 << 20) + "&size=" +
                                           std::to_string(20 << 20) + "&key=" + Key("trickle")),
               slowest, 20 << 20, 0, 20000, {6, 50, true}},
       }) {
    SCOPED_TRACE(r.what);
    Outcome o = Download(r.url, 1500, {}, r.options, {}, "target.bin", r.minRate);
    if (r.size > 0) {
      ExpectComplete(o, r.size, r.size);
    } else {
      ExpectFailed(o, {}, r.kept);
      EXPECT_EQ(o.failure.reason, FailReason::Stall);
      EXPECT_EQ(ReasonText(o.failure.reason), "服务器无响应");
    }
    EXPECT_GE(o.ms, r.minMs);
    EXPECT_LT(o.ms, r.maxMs);
  }
}

TEST(DownloadServers, ZeroLengthBodyRedirectLoopAndHugeAnnouncedSizeFail) {
  Outcome empty = Download(Fault("/empty"));
  ExpectFailed(empty);
  EXPECT_EQ(std::count(empty.statuses.begin(), empty.statuses.end(), kStarted), 0);
  ExpectFailed(Download(Fault("/loop")));
  Outcome huge = Download(Fault("/huge?send=30000"));
  ExpectFailed(huge);
  EXPECT_EQ(huge.last.total, 5000000000000LL);
}

TEST(DownloadServers, StopEndsATransferThatWaitsOnTheServer) {
  using std::chrono::milliseconds;
  struct Row {
    const char* what;
    std::string url;
    std::string key;  // Stop comes once the server saw `requests` under it
    int requests;
    int stopMs;  // Stop's bound
  };
  const std::string busy = Key("busyranges");
  for (const Row& r : {
           // The default 60 s stall limit: only the cancel ends the read.
           Row{"a read blocked on a silent server", Fault("/stall?send=20000"), {}, 0,
               DownloadTask::kStopWaitMs + 3000},
           // The first answer breaks early; every range, and its retry, is
           // told to come back in 30 s: all four connections wait.
           Row{"ranges told to retry in 30 s",
               Fault("/file?etag=ra&resets=1&cut=1&status=503&retryafter=30&busyfrom=1&size=" +
                     std::to_string(20 << 20) + "&key=" + busy),
               busy, 5, DownloadTask::kStopWaitMs * 2},
       }) {
    SCOPED_TRACE(r.what);
    testing_support::TempDir dir;
    std::string target = dir.path() + "\\stalled.bin";
    ReportLog log;
    auto done = std::make_shared<CompletionEvent>();
    std::chrono::steady_clock::time_point t1;
    {
      DownloadTask task;
      task.SetOptions({6, 50, true});
      task.Start(r.url, target, log.Callback(), 1, done);
      ASSERT_TRUE(log.WaitForStatus(kStarted, 10000));
      for (int i = 0; i < 100 && !r.key.empty() && Requests(r.key) < r.requests; ++i)
        std::this_thread::sleep_for(milliseconds(100));
      std::this_thread::sleep_for(milliseconds(300));
      auto t0 = std::chrono::steady_clock::now();
      EXPECT_TRUE(task.Stop());
      t1 = std::chrono::steady_clock::now();
      EXPECT_LT(t1 - t0, milliseconds(r.stopMs));
      EXPECT_TRUE(done->WaitFor(0));
    }
    // Nothing left for the destructor to wait for.
    EXPECT_LT(std::chrono::steady_clock::now() - t1, milliseconds(1000));
    auto s = log.Statuses();
    EXPECT_EQ(s.back(), kFinished);
    EXPECT_EQ(std::count(s.begin(), s.end(), kFailed), 1);
    EXPECT_FALSE(platform::FileExists(target));
  }
}

TEST(DownloadServers, BrokenConnectionsAreResumedAndRetried) {
  // Five resets at half of what each answer carries, then a whole answer:
  // every attempt asks for the rest only.
  Outcome five = Download(Fault("/file?size=400000&etag=e1&resets=5&key=" + Key("five")), 0, {}, {6, 50, true});
  ExpectComplete(five, 400000, 400000);
  ASSERT_EQ(five.retries.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    // A reset may throw away what the client had not read yet, headers
    // included: the system then honestly reports no answer at all.
    EXPECT_TRUE(five.retries[i].reason == FailReason::Broken || five.retries[i].reason == FailReason::Connect)
        << ReasonText(five.retries[i].reason);
    EXPECT_EQ(five.retries[i].attempt, static_cast<int>(i) + 2);
  }

  // Six in a row: the task fails with its reason and keeps what it has; the
  // next start of the same file resumes it to the last byte.
  testing_support::TempDir keep;
  const std::string six = Fault("/file?size=400000&resets=6&key=" + Key("six"));  // Last-Modified only
  Outcome failed = Download(six, 0, {}, {6, 50, true}, keep.path());
  ExpectFailed(failed, {}, /*kept=*/true);
  EXPECT_TRUE(failed.failure.reason == FailReason::Broken || failed.failure.reason == FailReason::Connect)
      << ReasonText(failed.failure.reason);
  EXPECT_EQ(failed.retries.size(), 5u);
  Outcome resumed = Download(six, 0, {}, {1, 50, true}, keep.path());
  ExpectComplete(resumed, 400000, 400000);
  EXPECT_TRUE(resumed.retries.empty());
}

TEST(DownloadServers, LargeFilesComeInRangesBelowTheRequestLimit) {
  const std::string key = Key("ranges");
  TaskOptions small{1, 50, true};
  small.maxRequestBytes = 100000;
  ExpectComplete(Download(Fault("/file?size=300001&etag=r&key=" + key), 0, {}, small), 300001, 300001);
  // 0- read up to 100000, then 100000-199999, 200000-299999 and 300000-:
  // four requests of at most the limit, in one attempt.
  EXPECT_EQ(Download(Fault("/count?key=" + key)).file, "4");
  // Without a validator or a range the rest could not be matched: one answer, read whole.
  ExpectComplete(Download(Fault("/nolength?size=300001"), 0, {}, small), 300001, 0);
}

std::string Body(std::int64_t n) { return CounterPattern(static_cast<std::size_t>(n)); }

platform::Sha256Digest DigestOf(const std::string& bytes) {
  platform::Sha256 h;
  h.Update(bytes);
  platform::Sha256Digest d{};
  EXPECT_TRUE(h.Final(d));
  return d;
}

TaskOptions Checked(std::int64_t size, std::optional<platform::Sha256Digest> sha, std::vector<std::string> mirrors = {},
                    int attempts = 1) {
  TaskOptions o{attempts, 50, true};
  o.expectedSize = size;
  o.expectedSha256 = sha;
  o.mirrors = std::move(mirrors);
  return o;
}


TEST(DownloadServers, ConfiguredSizeAndHashDecideWhatIsPublished) {
  const std::int64_t n = 300001;
  const platform::Sha256Digest good = DigestOf(Body(n));
  platform::Sha256Digest wrong = good;
  wrong[31] ^= 1;

  // Right size and hash, streamed in order and in request-sized ranges: the
  // hash is taken on the way, with no pass over the file at the end.
  TaskOptions ranged = Checked(n, good);
  ranged.maxRequestBytes = 100000;
  for (const TaskOptions& options : {Checked(n, good), ranged}) {
    Outcome o = Download(Fault("/file?size=300001&etag=h"), 0, {}, options);
    ExpectComplete(o, n, n);
    EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kVerifying), 0);
  }
  // A hash without a size.
  ExpectComplete(Download(Fault("/file?size=300001&etag=h"), 0, {}, Checked(-1, good)), n, n);
  // Ranges over several connections arrive out of order: one pass at the end,
  // announced, and then the same verdicts.
  const std::int64_t big = (std::int64_t{17} << 20) + 5;
  const platform::Sha256Digest bigGood = DigestOf(Body(big));
  Outcome ranged4 = Download(Fault("/file?size=17825797&etag=p"), 0, {}, Checked(big, bigGood));
  ExpectComplete(ranged4, big, big);
  EXPECT_EQ(std::count(ranged4.statuses.begin(), ranged4.statuses.end(), kVerifying), 1);
  Outcome flipped = Download(Fault("/file?size=17825797&etag=p&flip=17000000"), 0, {}, Checked(big, bigGood));
  ExpectFailed(flipped);
  EXPECT_EQ(flipped.failure.reason, FailReason::HashMismatch);
  EXPECT_EQ(Download(Fault("/file?size=17825797&etag=p"), 0, {}, Checked(big - 1, bigGood)).failure.reason,
            FailReason::SizeMismatch);

  // An announced size other than the configured one fails at once, before
  // any byte is kept; so does a body without a length that ends at another size.
  std::string key = Key("size");
  Outcome announced = Download(Fault("/file?size=300001&etag=h&key=" + key), 0, {}, Checked(n + 1, {}, {}, 6));
  ExpectFailed(announced);
  EXPECT_EQ(announced.failure.reason, FailReason::SizeMismatch);
  EXPECT_TRUE(announced.retries.empty());
  EXPECT_EQ(Requests(key), 1);
  Outcome received = Download(Fault("/nolength?size=300001"), 0, {}, Checked(n - 1, {}));
  ExpectFailed(received);
  EXPECT_EQ(received.failure.reason, FailReason::SizeMismatch);

  // One byte wrong at the right size, or a captive portal's page with 200:
  // the stated hash catches both.
  for (const char* path : {"/file?size=300001&etag=h&flip=150000", "/portal"}) {
    Outcome o = Download(Fault(path), 0, {}, Checked(-1, good));
    ExpectFailed(o);
    EXPECT_EQ(o.failure.reason, FailReason::HashMismatch) << path;
  }
  // The wrong bytes: fetched once more from the first byte, then failed, and
  // nothing is kept.
  key = Key("hash");
  Outcome bad = Download(Fault("/file?size=300001&etag=h&key=" + key), 0, {}, Checked(n, wrong, {}, 6));
  ExpectFailed(bad);
  EXPECT_EQ(bad.failure.reason, FailReason::HashMismatch);
  EXPECT_EQ(Requests(key), 2);
  EXPECT_TRUE(bad.retries.empty());
}

TEST(DownloadServers, APartKeptFromAnEarlierRunIsHashedWholeBeforeItIsPublished) {
  const std::int64_t n = 400000;
  const std::string body = Body(n);
  platform::Sha256Digest wrong = DigestOf(body);
  wrong[0] ^= 0x80;
  for (bool right : {true, false}) {
    testing_support::TempDir keep;
    const std::string url = Fault("/file?size=400000&etag=k&resets=1&key=" + Key("kept"));
    ExpectFailed(Download(url, 0, {}, {1, 50, true}, keep.path()), {}, /*kept=*/true);
    Outcome o = Download(url, 0, {}, Checked(n, right ? DigestOf(body) : wrong), keep.path());
    if (right) {
      ExpectComplete(o, n, n);
      // The kept half was not in the stream: one pass over the file, announced.
      EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kVerifying), 1);
    } else {
      ExpectFailed(o);
      EXPECT_EQ(o.failure.reason, FailReason::HashMismatch);
    }
  }
}

TEST(DownloadServers, SpareAddressesServeWhatTheMainOneCannot) {
  const std::int64_t n = 300000;
  const std::string down = "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 9) + "/x.bin";
  const std::string good = Fault("/file?size=300000&etag=m");
  // Down, 404, or the wrong bytes: the spare address serves the file.
  ExpectComplete(Download(down, 0, {}, Checked(n, {}, {good})), n, n);
  ExpectComplete(Download(Fault("/file?size=300000&status=404"), 0, {}, Checked(-1, {}, {good})), n, n);
  const platform::Sha256Digest sha = DigestOf(Body(n));
  ExpectComplete(Download(Fault("/nolength?size=299999"), 0, {}, Checked(-1, sha, {good})), n, n);
  // Every address failing: the reason is the last address's.
  Outcome all = Download(Fault("/file?size=300000&status=404"), 0, {}, Checked(-1, {}, {down}));
  ExpectFailed(all);
  EXPECT_EQ(all.failure.reason, FailReason::Connect);

  // A part kept from the main host continues from a spare one only when the
  // validators agree; another ETag starts the file over, byte-exact.
  for (const char* etag : {"same", "other"}) {
    testing_support::TempDir keep;
    const std::string key = Key(etag);
    ExpectFailed(Download(Fault("/file?size=300000&etag=same&resets=1&key=main" + key), 0, {}, {1, 50, true},
                          keep.path()),
                 {}, /*kept=*/true);
    Outcome o = Download(down, 0, {}, Checked(n, sha, {Fault(std::string("/file?size=300000&etag=") + etag +
                                                            "&key=spare" + key)}),
                         keep.path());
    ExpectComplete(o, n, n);
  }
}

// The file after it changed on the server: every byte of the pattern XOR 0x5A.
std::string NewBody(std::int64_t n) {
  std::string b = Body(n);
  for (char& c : b) c = static_cast<char>(c ^ 0x5A);
  return b;
}

TEST(DownloadServers, WhateverTheServerAnswersTheFileIsItsFileOrNothing) {
  // Exact: the file, byte for byte. NewOrNothing: the changed file whole,
  // or a failure with nothing published; never old bytes beside new ones.
  enum class Want { Exact, NewOrNothing, Fails };
  struct Row {
    const char* what;
    std::string path;  // fault server; &key= is added
    std::int64_t size;
    Want want;
    FailReason reason = FailReason::None;
    TaskOptions options{1, 50, true};
    bool keptFirst = false;  // an earlier run broke off and kept a part
    std::string name = "target.bin";
    int requests = 0;  // how many the server saw, when it matters
  };
  const TaskOptions retrying{6, 50, true};
  const std::string big = std::to_string(20 << 20);
  for (const Row& r : {
           // A fresh 206 must start where asked, and its total is its
           // Content-Range total: an early end is progress, not the file.
           Row{"a first 206 that ends at byte 999", "/partial206?size=5000&etag=p", 5000, Want::Exact},
           Row{"a first 206 from byte 100", "/partial206?size=5000&etag=p&shift=100&cap=0", 5000, Want::Exact},
           Row{"every 206 from another byte", "/shifted?size=5000&etag=s", 5000, Want::Fails, FailReason::Protocol,
               {1, 50, true}, false, "target.bin", 2},
           Row{"a 206 without Content-Range", "/hostile?status=206&length=5000", 5000, Want::Fails,
               FailReason::Protocol},
           // Servers that cap what one answer carries.
           Row{"206 answers of 64 KiB", "/capped?size=300000&etag=c&cap=65536", 300000, Want::Exact},
           Row{"ranges answered 1 MiB at a time", "/capped?etag=cb&cap=1048576&size=" + big, 20 << 20, Want::Exact,
               FailReason::None, retrying},
           // A file that changed under an If-Range the server ignores.
           Row{"changed before the retry", "/changes?size=300000", 300000, Want::NewOrNothing, FailReason::None,
               retrying},
           Row{"changed before the next run", "/changes?size=300000", 300000, Want::NewOrNothing, FailReason::None,
               retrying, true},
           Row{"changed while ranges run", "/changes?size=" + big, 20 << 20, Want::NewOrNothing},
           Row{"a weak ETag on a resume whose bytes changed", "/weak?changes=1&size=300000", 300000,
               Want::NewOrNothing, FailReason::None, retrying},
           // Ranges answered 200: one stream from that answer.
           Row{"a pool of nodes with their own ETags", "/pool?size=" + big, 20 << 20, Want::Exact},
           Row{"a weak ETag that If-Range never matches", "/weak?etag=w&size=" + big, 20 << 20, Want::Exact},
           // Sizes no file has.
           Row{"Content-Range total 2^63-1", "/hostile?range=bytes%200-0/9223372036854775807", 5000, Want::Fails,
               FailReason::Protocol},
           Row{"Content-Range */*", "/hostile?range=bytes%20*/*", 5000, Want::Fails, FailReason::Protocol},
           Row{"Content-Length 2^63-1", "/hostile?length=9223372036854775807", 5000, Want::Fails,
               FailReason::Protocol},
           Row{"Content-Length -5", "/hostile?length=-5", 5000, Want::Fails, FailReason::Protocol},
           Row{"Content-Length of 20 digits", "/hostile?length=12345678901234567890", 5000, Want::Fails,
               FailReason::Protocol},
           Row{"Content-Length of letters", "/hostile?length=abc", 5000, Want::Fails, FailReason::Protocol},
           // A login page instead of the file, with no hash to tell.
           Row{"a captive portal's page", "/portal", 0, Want::Fails, FailReason::WebPage, {1, 50, true}, false,
               "data.dat"},
           Row{"text/html for a data file", "/file?size=5000&type=text/html", 0, Want::Fails, FailReason::WebPage,
               {1, 50, true}, false, "data.dat"},
           Row{"text/html for a page", "/file?size=5000&type=text/html;%20charset=utf-8", 5000, Want::Exact,
               FailReason::None, {1, 50, true}, false, "readme.html"},
           Row{"text/html for an .htm", "/file?size=5000&type=text/html", 5000, Want::Exact, FailReason::None,
               {1, 50, true}, false, "index.htm"},
       }) {
    SCOPED_TRACE(r.what);
    const std::string key = Key("judge");
    const std::string url = Fault(r.path + (r.path.find('?') == std::string::npos ? "?" : "&") + "key=" + key);
    testing_support::TempDir keep;
    if (r.keptFirst) {
      ExpectFailed(Download(url, 0, {}, {1, 50, true}, keep.path(), r.name), {}, /*kept=*/true);
    }
    Outcome o = Download(url, 0, {}, r.options, keep.path(), r.name);
    switch (r.want) {
      case Want::Exact:
        ExpectComplete(o, r.size, r.size);
        break;
      case Want::NewOrNothing:
        if (o.fileExists) {
          EXPECT_EQ(o.statuses.back(), kFinished);
          EXPECT_EQ(std::count(o.statuses.begin(), o.statuses.end(), kFailed), 0);
          EXPECT_EQ(o.file.size(), static_cast<std::size_t>(r.size));
          EXPECT_TRUE(o.file == NewBody(r.size)) << "not the new file whole";
        } else {
          ExpectFailed(o, {}, o.tempLeft);
        }
        break;
      case Want::Fails:
        ExpectFailed(o);
        EXPECT_EQ(o.failure.reason, r.reason) << ReasonText(o.failure.reason, o.failure.httpStatus);
        break;
    }
    // A short answer is not a broken connection, nor any fault to retry.
    if (r.want == Want::Exact) {
      EXPECT_TRUE(o.retries.empty());
    }
    if (r.requests) {
      EXPECT_EQ(Requests(key), r.requests);
    }
  }
  EXPECT_EQ(ReasonText(FailReason::Protocol), "服务器响应无效");
  EXPECT_EQ(ReasonText(FailReason::WebPage), "服务器返回了网页而不是文件");
}

// Byte at of the servers' counter pattern, without building the whole body.
std::string PatternAt(std::int64_t at, std::size_t n) {
  std::string out(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t k = static_cast<std::uint64_t>(at) + i;
    out[i] = static_cast<char>((static_cast<std::uint32_t>(k / 4) >> (8 * (k % 4))) & 0xFF);
  }
  return out;
}

// Five GiB and a bit: one response of that size ends at 2^31-1 bytes under
// Wine. Run by tests/extra/large_file.sh only (it needs the disk space).
TEST(DownloadServers, FilesOverFourGiBComeWholeInRanges) {
  if (!std::getenv("TARNWICK_LARGE_FILE")) GTEST_SKIP() << "set TARNWICK_LARGE_FILE to run";
  const std::int64_t size = (std::int64_t{5} << 30) + 12345;
  testing_support::TempDir dir;
  const std::string target = dir.path() + "\\large.bin";
  ReportLog log;
  auto done = std::make_shared<CompletionEvent>();
  {
    DownloadTask task;  // the product's options: 1 GiB a request
    task.Start(Fault("/file?etag=large&size=" + std::to_string(size)), target, log.Callback(), 1, done);
    ASSERT_TRUE(done->WaitFor(30 * 60 * 1000));
    EXPECT_TRUE(task.Stop());
  }
  auto s = log.Statuses();
  ASSERT_EQ(s.back(), kFinished);
  for (const ProgressReport& r : log.Reports())
    if (r.status == kFailed) ADD_FAILURE() << "failed: " << ReasonText(r.reason, r.httpStatus) << " at " << r.done;
  EXPECT_EQ(std::count(s.begin(), s.end(), kFailed), 0);
  EXPECT_EQ(platform::FileSizeOf(target), std::optional<std::uint64_t>(static_cast<std::uint64_t>(size)));
  // Marks around 2 GiB, 4 GiB and the end, read back from the file.
  std::string native = target;
  if (std::filesystem::path::preferred_separator == '/') std::replace(native.begin(), native.end(), '\\', '/');
  std::ifstream file(native, std::ios::binary);
  ASSERT_TRUE(file.good());
  for (std::int64_t mark : {std::int64_t{0}, (std::int64_t{1} << 31) - 4096, std::int64_t{1} << 32,
                            (std::int64_t{1} << 32) + 4093, size - 4096}) {
    std::string got(4096, '\0');
    file.seekg(static_cast<std::streamoff>(mark));
    file.read(got.data(), static_cast<std::streamsize>(got.size()));
    ASSERT_TRUE(file.good()) << mark;
    EXPECT_TRUE(got == PatternAt(mark, got.size())) << "bytes differ at " << mark;
  }
}

// What the fault server saw under a key: the Range headers asked, one per
// request, and the most answers open at once.
std::vector<std::string> RangesAsked(const std::string& key) {
  std::vector<std::string> out;
  std::string text = Download(Fault("/ranges?key=" + key)).file;
  for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    out.push_back(text.substr(at, nl - at));
  return out;
}
int PeakOpen(const std::string& key) { return std::atoi(Download(Fault("/peak?key=" + key)).file.c_str()); }
// The first byte a Range header asks for.
std::int64_t RangeStart(const std::string& header) {
  std::size_t eq = header.find('=');
  return eq == std::string::npos ? -1 : std::atoll(header.c_str() + eq + 1);
}

constexpr std::int64_t kParallelSize = 20 << 20;  // four pieces of 5 MiB
constexpr std::int64_t kMiB = 1 << 20;

TEST(DownloadServers, LargeFilesComeOverSeveralConnections) {
  struct Row {
    const char* what;
    std::string query;
    std::int64_t size;
    int connections;
    int minRequests, maxRequests, minOpen, maxOpen;
  };
  const std::string size = std::to_string(kParallelSize);
  for (const Row& r : {
           // Pieces split for idle connections add requests, never connections.
           Row{"four connections", "etag=p4&slow=all&slowrate=40000000&size=" + size, kParallelSize, 4, 4, 40, 2, 4},
           Row{"the key says 1", "etag=p1&size=" + size, kParallelSize, 1, 1, 1, 1, 1},
           Row{"the key says 8", "etag=p8&slow=all&slowrate=40000000&size=" + size, kParallelSize, 8, 8, 80, 2, 8},
           Row{"server ignores Range", "etag=pi&ignorerange=1&size=" + size, kParallelSize, 4, 1, 1, 1, 1},
           Row{"Last-Modified as the validator", "slow=all&slowrate=40000000&size=" + size, kParallelSize, 4, 4, 40, 2, 4},
           Row{"below 16 MiB", "etag=ps&size=" + std::to_string(16 * kMiB - 1), 16 * kMiB - 1, 4, 1, 1, 1, 1},
       }) {
    SCOPED_TRACE(r.what);
    const std::string key = Key("par");
    TaskOptions options{1, 50, true};
    options.connections = r.connections;
    Outcome o = Download(Fault("/file?" + r.query + "&key=" + key), 0, {}, options);
    ExpectComplete(o, r.size, r.size);
    std::vector<std::string> asked = RangesAsked(key);
    EXPECT_GE(static_cast<int>(asked.size()), r.minRequests);
    EXPECT_LE(static_cast<int>(asked.size()), r.maxRequests);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), "bytes=0-");
    EXPECT_LE(PeakOpen(key), r.maxOpen);
    EXPECT_GE(PeakOpen(key), r.minOpen);
  }
  // Every later request is bounded, and at most the request limit long.
  const std::string key = Key("cap");
  TaskOptions capped{1, 50, true};
  capped.maxRequestBytes = 3 * kMiB;
  ExpectComplete(Download(Fault("/file?etag=c&size=" + size + "&key=" + key), 0, {}, capped), kParallelSize,
                 kParallelSize);
  std::vector<std::string> asked = RangesAsked(key);
  EXPECT_GE(asked.size(), 7u);  // 20 MiB in pieces of at most 3 MiB
  for (std::size_t i = 1; i < asked.size(); ++i) {
    std::size_t dash = asked[i].find('-');
    ASSERT_NE(dash, std::string::npos);
    EXPECT_LE(std::atoll(asked[i].c_str() + dash + 1) - RangeStart(asked[i]) + 1, 3 * kMiB) << asked[i];
  }
}

TEST(DownloadServers, AFinishedConnectionTakesOverTheSlowestRange) {
  // The last piece (from 15 MiB) comes at 1 MiB/s: alone it would take 5 s.
  const std::string key = Key("steal");
  Outcome o = Download(Fault("/file?etag=s&slow=" + std::to_string(15 * kMiB) + "&size=" +
                             std::to_string(kParallelSize) + "&key=" + key),
                       0, {}, {1, 50, true});
  ExpectComplete(o, kParallelSize, kParallelSize);
  EXPECT_LT(o.ms, 4000);
  std::vector<std::string> asked = RangesAsked(key);
  EXPECT_GT(asked.size(), 4u);
  // Someone asked for the back half of the slow piece.
  EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [](const std::string& a) {
    return RangeStart(a) > 15 * kMiB && RangeStart(a) < kParallelSize;
  }));
  EXPECT_LE(PeakOpen(key), 4);
}

TEST(DownloadServers, ACutMidRangeResumesThatRangeOnly) {
  // The third piece (from 10 MiB) breaks 200003 bytes in: one retry, every
  // range resumed where it stood, nothing fetched from the start again. The
  // server resets only once the client holds every byte before the cut, and
  // a split leaves a piece's first MiB to its own connection, so the cut
  // lands there however busy the machine is.
  const std::int64_t cut = 10 * kMiB + 200003;
  const std::string key = Key("cutpar");
  Outcome o = Download(Fault("/file?etag=m&resetat=" + std::to_string(cut) + "&size=" +
                             std::to_string(kParallelSize) + "&key=" + key),
                       0, {}, {6, 50, true});
  ExpectComplete(o, kParallelSize, kParallelSize);
  ASSERT_EQ(o.retries.size(), 1u);
  EXPECT_EQ(o.retries[0].reason, FailReason::Broken);
  std::vector<std::string> asked = RangesAsked(key);
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "bytes=0-"), 1);
  EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [cut](const std::string& a) {
    return RangeStart(a) == cut;  // the cut range, from its first missing byte
  })) << "the resumed range did not start at the cut";
}

TEST(DownloadServers, ConnectionsThatKeepBreakingFailTheFileAndKeepTheirRanges) {
  // Every answer breaks a hundredth of the way in, even the first,
  // open-ended one inside its piece, too little to count as getting on:
  // each connection tries three times, then the file fails with the
  // reason, keeping what came; the next start goes on.
  testing_support::TempDir keep;
  const std::string key = Key("keepbreaking");
  const std::string url =
      Fault("/file?etag=kb&resets=12&cut=1&size=" + std::to_string(kParallelSize) + "&key=" + key);
  Outcome failed = Download(url, 0, {}, {3, 50, true}, keep.path());
  ExpectFailed(failed, {}, /*kept=*/true);
  EXPECT_EQ(failed.failure.reason, FailReason::Broken);
  EXPECT_GE(failed.retries.size(), 2u);  // at least one connection used its three tries
  EXPECT_LE(failed.retries.size(), 8u);
  for (const ProgressReport& r : failed.retries) EXPECT_LE(r.attempt, 3);
  std::optional<ResumeState> kept = ReadResumeState(keep.path() + "\\target.bin.part.resume");
  ASSERT_TRUE(kept.has_value());
  EXPECT_GE(kept->done.size(), 2u);
  Outcome resumed = Download(url, 0, {}, {6, 50, true}, keep.path());
  ExpectComplete(resumed, kParallelSize, kParallelSize);
  std::vector<std::string> asked = RangesAsked(key);
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "bytes=0-"), 1);
}

TEST(DownloadServers, AKeptPartWithSeveralRangesAsksOnlyForTheGaps) {
  struct Row {
    const char* what;
    std::string done;        // the resume state's done ranges
    std::int64_t partSize;
    std::vector<ByteRange> gaps;  // what may be asked for; empty: a start over
  };
  const std::int64_t n = kParallelSize;
  for (const Row& r : {
           Row{"two ranges", "0-4194304,10485760-12582912", n, {{4 * kMiB, 10 * kMiB}, {12 * kMiB, n}}},
           Row{"older launchers' one range", "0-6291456", 6 * kMiB, {{6 * kMiB, n}}},
           Row{"a range that starts later", "8388608-9437184", n, {{0, 8 * kMiB}, {9 * kMiB, n}}},
           Row{"ranges past the end of the part", "0-1048576,10485760-20971520", 12 * kMiB, {}},
           Row{"ranges past the file", "0-1048576,10485760-30000000", n, {}},
           Row{"malformed ranges", "0-x", n, {}},
       }) {
    SCOPED_TRACE(r.what);
    testing_support::TempDir keep;
    const std::string key = Key("gaps");
    const std::string url = Fault("/file?etag=g&size=" + std::to_string(n) + "&key=" + key);
    const std::string target = keep.path() + "\\target.bin";
    // Whatever is not in a done range is junk: a byte of it in the result
    // would show.
    std::string part(static_cast<std::size_t>(r.partSize), '\x5a');
    const std::string good = CounterPattern(static_cast<std::size_t>(n));
    for (const auto& d : MergeRanges([&] {
           std::vector<ByteRange> v;
           for (const ByteRange& g : MissingRanges(r.gaps, n)) v.push_back(g);
           return v;
         }()))
      if (!r.gaps.empty()) part.replace(d.first, d.end - d.first, good.substr(d.first, d.end - d.first));
    ASSERT_TRUE(platform::WriteFileBytes(target + ".part", part));
    ASSERT_TRUE(platform::WriteFileBytes(target + ".part.resume", "url=" + url + "\nvalidator=\"g\"\ntotal=" +
                                                                     std::to_string(n) + "\ndone=" + r.done + "\n"));
    Outcome o = Download(url, 0, {}, {1, 50, true}, keep.path());
    ExpectComplete(o, n, n);
    std::vector<std::string> asked = RangesAsked(key);
    ASSERT_FALSE(asked.empty());
    if (r.gaps.empty()) {
      EXPECT_EQ(asked.front(), "bytes=0-");
      continue;
    }
    for (const std::string& a : asked) {
      std::int64_t first = RangeStart(a);
      EXPECT_TRUE(std::any_of(r.gaps.begin(), r.gaps.end(),
                              [&](const ByteRange& g) { return first >= g.first && first < g.end; }))
          << a;
    }
  }
}

TEST(DownloadServers, AStoppedParallelDownloadResumesFromItsRanges) {
  // Every range slow at first: stopped after a second, the part holds
  // several ranges, which the next start (fast now) completes.
  testing_support::TempDir keep;
  const std::string key = Key("stopped");
  const std::string url = Fault("/file?etag=k&slow=all&slowrequests=4&slowrate=2000000&size=" +
                                std::to_string(kParallelSize) + "&key=" + key);
  const std::string target = keep.path() + "\\target.bin";
  {
    ReportLog log;
    auto done = std::make_shared<CompletionEvent>();
    DownloadTask task;
    task.Start(url, target, log.Callback(), 1, done);
    ASSERT_TRUE(log.WaitForStatus(kStarted, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(task.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(DownloadTask::kStopWaitMs + 1500));
  }
  std::optional<ResumeState> kept = ReadResumeState(target + ".part.resume");
  ASSERT_TRUE(kept.has_value());
  EXPECT_GE(kept->done.size(), 2u);
  EXPECT_GT(RangeBytes(kept->done), 0);
  EXPECT_LT(RangeBytes(kept->done), kParallelSize);
  Outcome o = Download(url, 0, {}, {1, 50, true}, keep.path());
  ExpectComplete(o, kParallelSize, kParallelSize);
  std::vector<std::string> asked = RangesAsked(key);
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "bytes=0-"), 1);  // never from the start again
}

TEST(DownloadServers, TwoFilesOfAnInstallNeverPassTheirSharedLimit) {
  for (int limit : {4, 3, 1}) {
    SCOPED_TRACE(limit);
    const std::string key = Key("budget");
    auto budget = std::make_shared<ConnectionBudget>(limit, 2);
    TaskOptions options{1, 50, true};
    options.budget = budget;
    const std::string query = "/file?slow=all&slowrate=20000000&size=" + std::to_string(kParallelSize) + "&key=" + key;
    Outcome a, b;
    std::thread other([&] { b = Download(Fault(query + "&etag=b"), 0, {}, options); });
    a = Download(Fault(query + "&etag=a"), 0, {}, options);
    other.join();
    ExpectComplete(a, kParallelSize, kParallelSize);
    ExpectComplete(b, kParallelSize, kParallelSize);
    EXPECT_LE(PeakOpen(key), std::max(limit, 2));  // one each whatever the limit
    EXPECT_LE(budget->peak(), std::max(limit, 2));
    if (limit == 4) {
      EXPECT_GE(PeakOpen(key), 3);
    }
  }
}

TEST(DownloadServers, BusyServersAreWaitedForAndMissingFilesAreNot) {
  Outcome busy = Download(Fault("/file?size=3000&status=503&errors=2&retryafter=1&key=" + Key("busy")), 0, {}, {6, 50, true});
  ExpectComplete(busy, 3000, 3000);
  ASSERT_EQ(busy.retries.size(), 2u);
  EXPECT_EQ(busy.retries[0].retryInMs, 1000);
  EXPECT_EQ(busy.retries[0].httpStatus, 503);
  EXPECT_GE(busy.ms, 1900);

  Outcome missing = Download(Fault("/status/404"), 0, {}, {6, 50, true});
  ExpectFailed(missing);
  EXPECT_TRUE(missing.retries.empty());
  EXPECT_EQ(missing.failure.reason, FailReason::HttpStatus);
  EXPECT_EQ(missing.failure.httpStatus, 404);
  EXPECT_EQ(ReasonText(missing.failure.reason, missing.failure.httpStatus), "服务器返回 404");
}

TEST(DownloadServers, TwoDownloadsAtOnce) {
  Outcome a, b;
  std::thread other([&] { b = Download(Http("/big.bin")); });
  a = Download(Http("/norange/big.bin"));
  other.join();
  ExpectComplete(a, kBigSize, kBigSize);
  ExpectComplete(b, kBigSize, kBigSize);
}

}  // namespace
}  // namespace download
