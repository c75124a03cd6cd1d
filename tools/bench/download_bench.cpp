// Download benchmark helper: fetches one or more URLs at once into files and
// prints the wall time. Mode "engine" uses DownloadTask; mode "loop" drains
// the build's transport with a bare availability/read loop (no reports, no
// staging), the baseline under Wine. CPU time and peak memory are measured
// by the caller (tools/bench/run_download_bench.sh).
// "engineN" limits the engine to N connections per file (the default is
// the product's: 4 for a file of 16 MiB or more that comes in ranges).
// "stream" is the engine reading each file as one stream, without ranges.
// Several files in an engine mode run as the install job runs them: one
// connection budget shared by all, each kept as ".part" until all are whole,
// then published.
// Usage: download_bench engine[N]|stream|loop URL FILE [URL FILE]...
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/connection_budget.h"
#include "download/download_task.h"
#include "platform/file_writer.h"
#include "platform/http_transport.h"

namespace {

bool Loop(const std::string& url, const std::string& path, long long& bytes) {
  auto t = platform::CreateHttpTransport();
  platform::HttpGetRequest req;
  req.url = url;
  if (!t->Send(req)) return false;
  platform::FileWriter file;
  if (!file.Create(path)) return false;
  std::vector<std::uint8_t> buf(1 << 20);
  while (true) {
    std::uint32_t avail = 0, read = 0;
    if (!t->QueryDataAvailable(avail)) return false;
    if (avail == 0) break;
    if (avail > buf.size()) buf.resize(avail);
    if (!t->ReadData(buf.data(), avail, read)) return false;
    if (read == 0) break;
    if (!file.Write(buf.data(), read)) return false;
    bytes += read;
  }
  return file.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 2) % 2 != 0) {
    std::fprintf(stderr, "usage: download_bench engine|loop URL FILE [URL FILE]...\n");
    return 2;
  }
  const bool stream = std::strcmp(argv[1], "stream") == 0;
  bool engine = stream || std::strncmp(argv[1], "engine", 6) == 0;
  const int connections =
      engine && !stream && argv[1][6] ? std::atoi(argv[1] + 6) : download::TaskOptions{}.connections;
  int n = (argc - 2) / 2;
  std::vector<long long> bytes(n, 0);
  std::vector<int> ok(n, 0);
  auto budget = std::make_shared<download::ConnectionBudget>(connections, n);
  auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    std::string url = argv[2 + 2 * i], path = argv[3 + 2 * i];
    threads.emplace_back([&, i, url, path] {
      if (!engine) {
        ok[i] = Loop(url, path, bytes[i]);
        return;
      }
      auto done = std::make_shared<download::CompletionEvent>();
      download::DownloadTask task;
      download::TaskOptions options;
      options.connections = connections;
      if (n > 1) {
        options.budget = budget;
        options.publish = false;
      }
      if (stream) options.parallelMinBytes = INT64_MAX;
      task.SetOptions(options);
      bool failed = false;
      task.Start(url, path, [&](const download::ProgressReport& r) {
        if (r.status == download::kFailed) failed = true;
        if (r.status == download::kFinished) bytes[i] = r.done;
      }, i, done);
      done->Wait();
      (void)task.Stop();
      ok[i] = !failed;
    });
  }
  for (auto& t : threads) t.join();
  long long total = 0;
  for (int i = 0; i < n; ++i) {
    if (!ok[i]) {
      std::fprintf(stderr, "download %d failed\n", i);
      return 1;
    }
    total += bytes[i];
  }
  for (int i = 0; engine && n > 1 && i < n; ++i) {
    if (!download::DownloadTask::PublishPart(argv[3 + 2 * i])) {
      std::fprintf(stderr, "publishing %d failed\n", i);
      return 1;
    }
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("bytes %lld seconds %.3f\n", total, s);
  return 0;
}
