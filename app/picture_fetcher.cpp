#include "app/picture_fetcher.h"

#include <optional>
#include <system_error>
#include <thread>

namespace app {

struct PictureFetcher::State {
  std::mutex mutex;
  struct Request {
    std::string url;
    std::uint64_t sequence;
  };
  std::optional<Request> pending;
  bool running = false;  // the box's thread is under way
  // The fetch under way; replaced for every request.
  std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
  Deliver deliver;
  platform::HttpReadLimits limits;
};

namespace {

void RunFetches(std::shared_ptr<PictureFetcher::State> s) {
  for (;;) {
    PictureFetcher::State::Request request;
    std::shared_ptr<std::atomic<bool>> cancel;
    {
      std::lock_guard lock(s->mutex);
      if (!s->pending) {
        s->running = false;
        return;
      }
      request = std::move(*s->pending);
      s->pending.reset();
      cancel = s->cancel;
    }
    platform::Bytes bytes = platform::HttpReadFile(request.url, s->limits, cancel.get());
    if (!bytes.empty() && !cancel->load()) s->deliver(request.sequence, std::move(bytes));
  }
}

}  // namespace

PictureFetcher::PictureFetcher(Deliver deliver, platform::HttpReadLimits limits)
    : state_(std::make_shared<State>()) {
  state_->deliver = std::move(deliver);
  state_->limits = limits;
}

PictureFetcher::~PictureFetcher() {
  std::lock_guard lock(state_->mutex);
  state_->pending.reset();
  state_->cancel->store(true);
}

bool PictureFetcher::StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool PictureFetcher::Fetch(const std::string& url, std::uint64_t sequence) {
  std::lock_guard lock(state_->mutex);
  state_->cancel->store(true);  // the older fetch is superseded
  state_->cancel = std::make_shared<std::atomic<bool>>(false);
  state_->pending = State::Request{url, sequence};
  if (state_->running) return true;
  state_->running = starter_([s = state_] { RunFetches(s); });
  if (!state_->running) state_->pending.reset();
  return state_->running;
}

}  // namespace app
