// Fetches the picture of one picture box (the logo, the background) off the
// window thread. At most one fetch per box is under way: a newer address
// cancels the older fetch, and the box's one thread takes the newest next.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_read.h"

namespace app {

class PictureFetcher {
 public:
  // Runs on the fetching thread with the bytes and the sequence number given
  // to Fetch; only for a fetch that was not superseded and brought bytes.
  using Deliver = std::function<void(std::uint64_t sequence, std::vector<std::uint8_t> bytes)>;
  // Starts the box's thread; false when none could be started.
  using ThreadStarter = std::function<bool(std::function<void()> body)>;

  explicit PictureFetcher(Deliver deliver, platform::HttpReadLimits limits = {});
  // Cancels what is under way; the thread, which never holds the launcher's
  // end, finishes on its own.
  ~PictureFetcher();
  PictureFetcher(const PictureFetcher&) = delete;
  PictureFetcher& operator=(const PictureFetcher&) = delete;

  // False when no thread could be started: the fetch has failed, and the box
  // keeps its picture.
  bool Fetch(const std::string& url, std::uint64_t sequence);

  // Test seam.
  void SetThreadStarter(ThreadStarter starter) { starter_ = std::move(starter); }
  static bool StartDetachedThread(std::function<void()> body);

  struct State;

 private:
  std::shared_ptr<State> state_;
  ThreadStarter starter_ = &PictureFetcher::StartDetachedThread;
};

}  // namespace app
