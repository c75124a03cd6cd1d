#include "tools/tarnwick-config/probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/http_transport.h"
#include "platform/sha256.h"
#include "platform/text_codec.h"

namespace tool {
namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string HostOf(const std::string& url) {
  std::size_t from = url.find("://");
  from = from == std::string::npos ? 0 : from + 3;
  std::size_t end = url.find_first_of("/?#", from);
  return url.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// "bytes 0-0/12345": the total, or -1 when absent or "*".
std::int64_t RangeTotal(const std::string& contentRange) {
  std::size_t slash = contentRange.rfind('/');
  if (slash == std::string::npos || slash + 1 >= contentRange.size()) return -1;
  std::int64_t n = 0;
  for (std::size_t i = slash + 1; i < contentRange.size(); ++i) {
    char c = contentRange[i];
    if (c < '0' || c > '9' || n > (INT64_MAX - 9) / 10) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

const char* FailureName(platform::HttpFailure f) {
  switch (f) {
    case platform::HttpFailure::Connect: return "no connection";
    case platform::HttpFailure::Tls: return "TLS failed";
    case platform::HttpFailure::Stall: return "no answer in time";
    case platform::HttpFailure::Broken: return "connection broke";
    case platform::HttpFailure::Protocol: return "bad response";
    case platform::HttpFailure::Cancelled: return "timed out";
    case platform::HttpFailure::None: break;
  }
  return "failed";
}

// The shared list of transports in flight, so the watchdog can cancel one
// whose time is up.
struct InFlight {
  std::mutex lock;
  std::condition_variable changed;
  struct Entry {
    platform::HttpTransport* transport = nullptr;
    Clock::time_point deadline;
  };
  std::vector<Entry> entries;
  std::size_t next = 0;
  std::size_t finished = 0;
};

void ProbeOne(const ProbeTarget& target, const ProbeOptions& options, platform::HttpTransport& http,
              ProbeOutcome& out) {
  bool secure = Lower(target.url).rfind("https://", 0) == 0;
  out.tls = secure ? "ok" : "-";
  platform::HttpGetRequest request;
  request.url = target.url;
  // One byte is enough to learn the status, the size and whether ranges work.
  if (!options.full) request.header = "Range:bytes=0-0";
  request.stallLimitMs = options.timeoutMs;
  if (!http.Send(request)) {
    platform::HttpFailure why = http.LastFailure();
    out.failure = std::string(FailureName(why)) + ": " + http.LastError();
    if (why == platform::HttpFailure::Tls) out.tls = http.LastError();
    out.problems.push_back(out.failure);
    return;
  }
  out.status = http.StatusCode();
  out.contentType = http.ResponseHeader("Content-Type");
  std::string range = http.ResponseHeader("Content-Range");
  out.ranges = out.status == 206;
  out.announced = out.status == 206 ? RangeTotal(range) : http.ContentLength();

  if (out.status != 200 && out.status != 206) {
    out.problems.push_back("HTTP status " + std::to_string(out.status));
    return;
  }
  if (Lower(out.contentType).rfind("text/html", 0) == 0)
    out.problems.push_back("an HTML page (" + out.contentType + ") where a file is expected: a login or error page?");
  if (target.size && out.announced >= 0 && static_cast<std::uint64_t>(out.announced) != *target.size)
    out.problems.push_back("size announced " + std::to_string(out.announced) + ", configured " +
                           std::to_string(*target.size));
  if (target.size && out.announced < 0) out.warnings.push_back("no size announced");
  if (!options.full && out.status == 200)
    out.warnings.push_back("no ranges: a broken download starts over from the first byte");
  if (!options.full) return;

  platform::Sha256 sha;
  std::vector<std::uint8_t> buffer(256 * 1024);
  std::int64_t got = 0;
  for (;;) {
    std::uint32_t avail = 0;
    if (!http.QueryDataAvailable(avail)) {
      out.problems.push_back(std::string(FailureName(http.LastFailure())) + " after " + std::to_string(got) +
                             " bytes: " + http.LastError());
      return;
    }
    if (avail == 0) break;
    std::uint32_t read = 0;
    if (!http.ReadData(buffer.data(), static_cast<std::uint32_t>(std::min<std::size_t>(avail, buffer.size())), read)) {
      out.problems.push_back(std::string(FailureName(http.LastFailure())) + " after " + std::to_string(got) +
                             " bytes: " + http.LastError());
      return;
    }
    if (read == 0) break;
    sha.Update(buffer.data(), read);
    got += read;
  }
  out.received = got;
  platform::Sha256Digest digest{};
  if (!sha.Final(digest)) {
    out.problems.push_back("the system's SHA-256 failed");
    return;
  }
  out.hash = platform::DigestToHex(digest);
  if (target.size && static_cast<std::uint64_t>(got) != *target.size)
    out.problems.push_back("received " + std::to_string(got) + " bytes, configured " + std::to_string(*target.size));
  if (target.sha256 && digest != *target.sha256)
    out.problems.push_back("SHA-256 " + out.hash + " differs from the configured " +
                           platform::DigestToHex(*target.sha256));
}

// Columns in terminal cells: CJK characters take two.
std::size_t Width(const std::string& s) {
  std::size_t w = 0;
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    w += len >= 3 ? 2 : 1;
    i += len;
  }
  return w;
}

std::string Clip(const std::string& s, std::size_t max) {
  return s.size() <= max ? s : s.substr(0, max - 3) + "...";
}

}  // namespace

std::string Printable(std::string_view text, bool keepLines) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    std::size_t len = platform::DecodeUtf8At(text, i, cp);
    if (len == 0) {  // no UTF-8 here
      auto b = static_cast<unsigned char>(text[i]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
      ++i;
      continue;
    }
    bool lineBreak = keepLines && (cp == '\n' || cp == '\t');
    if (!lineBreak && (cp < 0x20 || cp == 0x7F)) {
      out += cp == '\r' ? "\\r" : cp == '\n' ? "\\n" : cp == '\t' ? "\\t" : "";
      if (cp != '\r' && cp != '\n' && cp != '\t') {
        out += "\\x";
        out += kHex[cp >> 4];
        out += kHex[cp & 15];
      }
    } else if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

std::optional<int> ParseTimeoutSeconds(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > kMaxTimeoutSeconds) return std::nullopt;
  return n;
}

std::vector<ProbeTarget> ProbeTargets(const config::Configuration& cfg) {
  std::vector<ProbeTarget> out;
  // Version 1 to 4, program before data, as the operator reads the file.
  for (const config::IntegrityKey& k : config::IntegrityKeys()) {
    if (k.part != config::IntegrityPart::Size) continue;
    const config::VersionSlot& slot = cfg.slots[static_cast<std::size_t>(k.slot - 1)];
    const std::string& url = k.program ? slot.programDownloadUrl : slot.dataDownloadUrl;
    if (url.empty()) continue;
    const config::FileIntegrity& file = k.program ? slot.programIntegrity : slot.dataIntegrity;
    out.push_back({k.fileKey, url, file.size, file.sha256});
    for (std::size_t i = 0; i < file.mirrors.size(); ++i)
      out.push_back({k.fileKey + "镜像[" + std::to_string(i + 1) + "]", file.mirrors[i], file.size, file.sha256});
  }
  return out;
}

std::vector<ProbeOutcome> RunProbes(const std::vector<ProbeTarget>& targets, const ProbeOptions& options) {
  std::vector<ProbeOutcome> outcomes(targets.size());
  InFlight flight;
  flight.entries.resize(targets.size());
  auto worker = [&] {
    for (;;) {
      std::size_t i;
      std::unique_ptr<platform::HttpTransport> http = platform::CreateHttpTransport();
      {
        std::lock_guard<std::mutex> hold(flight.lock);
        if (flight.next >= targets.size()) return;
        i = flight.next++;
        flight.entries[i].transport = http.get();
        // --full reads the whole body, each read bounded by the stall limit;
        // the deadline keeps a body that trickles in from holding the tool.
        int limitMs = options.full ? options.timeoutMs * ProbeOptions::kFullDeadlineFactor : options.timeoutMs;
        flight.entries[i].deadline = Clock::now() + std::chrono::milliseconds(limitMs);
      }
      Clock::time_point start = Clock::now();
      ProbeOne(targets[i], options, *http, outcomes[i]);
      outcomes[i].ms = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
      {
        std::lock_guard<std::mutex> hold(flight.lock);
        flight.entries[i].transport = nullptr;
        ++flight.finished;
      }
      flight.changed.notify_all();
      http->Close();
    }
  };
  std::vector<std::thread> threads;
  std::size_t n = std::min<std::size_t>(targets.size(), static_cast<std::size_t>(std::max(1, options.parallel)));
  for (std::size_t t = 0; t < n; ++t) threads.emplace_back(worker);
  {
    // The watchdog: a probe past its deadline is cancelled; Cancel is safe
    // from any thread and makes the blocked call return.
    std::unique_lock<std::mutex> hold(flight.lock);
    while (flight.finished < targets.size()) {
      flight.changed.wait_for(hold, std::chrono::milliseconds(100));
      Clock::time_point now = Clock::now();
      for (InFlight::Entry& e : flight.entries) {
        if (e.transport && now >= e.deadline) {
          e.transport->Cancel();
          e.deadline = Clock::time_point::max();
        }
      }
    }
  }
  for (std::thread& t : threads) t.join();
  return outcomes;
}

std::string ProbeReport(const std::vector<ProbeTarget>& targets, const std::vector<ProbeOutcome>& outcomes,
                        bool full) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"KEY", "HOST", "STATUS", "SIZE (ANNOUNCED/CONFIGURED)", "RANGES", "TYPE", "TLS", "TIME"});
  if (full) rows.back().push_back("SHA-256");
  rows.back().push_back("RESULT");
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const ProbeTarget& t = targets[i];
    const ProbeOutcome& o = outcomes[i];
    std::string size = (o.announced >= 0 ? std::to_string(o.announced) : std::string("?")) + "/" +
                       (t.size ? std::to_string(*t.size) : std::string("-"));
    if (full && o.received >= 0) size = std::to_string(o.received) + " got/" + (t.size ? std::to_string(*t.size) : "-");
    // Server text is escaped first: what a clip leaves is plain characters.
    std::vector<std::string> row = {t.key,
                                    Printable(HostOf(t.url)),
                                    o.status ? std::to_string(o.status) : std::string("-"),
                                    size,
                                    o.status == 0 ? "-" : o.ranges ? "yes" : "no",
                                    o.contentType.empty() ? "-" : Clip(Printable(o.contentType), 28),
                                    Clip(Printable(o.tls), 24),
                                    std::to_string(o.ms) + " ms"};
    if (full) {
      std::string h = "-";
      if (!o.hash.empty()) h = !t.sha256 ? "not configured" : o.hash == platform::DigestToHex(*t.sha256) ? "match" : "DIFFERS";
      row.push_back(h);
    }
    row.push_back(!o.problems.empty() ? "FAIL" : !o.warnings.empty() ? "warn" : "ok");
    rows.push_back(std::move(row));
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - Width(row[c]) + 2, ' ');
    }
    text += line + "\n";
  }
  std::size_t failed = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    std::string where = targets[i].key + " (" + Printable(targets[i].url) + "): ";
    for (const std::string& p : outcomes[i].problems) text += "FAIL " + where + Printable(p) + "\n";
    for (const std::string& w : outcomes[i].warnings) text += "warn " + where + Printable(w) + "\n";
    failed += !outcomes[i].problems.empty();
  }
  text += std::to_string(targets.size()) + " addresses, " + std::to_string(failed) + " failed\n";
  return text;
}

}  // namespace tool
