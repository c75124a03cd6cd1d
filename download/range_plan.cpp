#include "download/range_plan.h"

#include <algorithm>

namespace download {

RangePlan::RangePlan(std::int64_t total, const std::vector<ByteRange>& done, int pieces, std::int64_t minSplit)
    : total_(total), minSplit_(std::max<std::int64_t>(1, minSplit)), done_(MergeRanges(done)) {
  std::vector<ByteRange> missing = MissingRanges(done_, total_);
  const std::int64_t share = std::max<std::int64_t>(
      minSplit_, (RangeBytes(missing) + std::max(1, pieces) - 1) / std::max(1, pieces));
  for (const ByteRange& gap : missing) {
    for (std::int64_t at = gap.first; at < gap.end;) {
      // A tail shorter than minSplit goes with the piece before it.
      std::int64_t end = gap.end - at < share + minSplit_ ? gap.end : at + share;
      queue_.push_back({at, end});
      at = end;
    }
  }
}

std::optional<int> RangePlan::Take() {
  ByteRange piece;
  if (!queue_.empty()) {
    piece = queue_.front();
    queue_.erase(queue_.begin());
  } else {
    Slot* slowest = nullptr;
    for (Slot& s : slots_)
      if (s.open && (!slowest || s.end - s.claimed > slowest->end - slowest->claimed)) slowest = &s;
    if (!slowest || slowest->end - slowest->claimed < 2 * minSplit_) return std::nullopt;
    const std::int64_t mid = slowest->claimed + (slowest->end - slowest->claimed) / 2;
    piece = {mid, slowest->end};
    slowest->end = mid;
    ++steals_;
  }
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (!slots_[i].open && slots_[i].written == slots_[i].first) {
      slots_[i] = {piece.first, piece.first, piece.first, piece.end, true};
      return static_cast<int>(i);
    }
  }
  slots_.push_back({piece.first, piece.first, piece.first, piece.end, true});
  return static_cast<int>(slots_.size() - 1);
}

std::int64_t RangePlan::Claim(int i, std::int64_t n) {
  Slot& s = slots_[static_cast<std::size_t>(i)];
  const std::int64_t allowed = std::clamp<std::int64_t>(s.end - s.claimed, 0, n);
  s.claimed += allowed;
  return allowed;
}

void RangePlan::Commit(int i) {
  Slot& s = slots_[static_cast<std::size_t>(i)];
  s.written = s.claimed;
}

void RangePlan::Release(int i) {
  Slot& s = slots_[static_cast<std::size_t>(i)];
  if (!s.open) return;
  s.open = false;
  done_ = MergeRanges([&] {
    std::vector<ByteRange> d = done_;
    d.push_back({s.first, s.written});
    return d;
  }());
  if (s.written < s.end) queue_.insert(queue_.begin(), {s.written, s.end});
  s.first = s.written = s.claimed = s.end = 0;
}

std::vector<ByteRange> RangePlan::Done() const {
  std::vector<ByteRange> d = done_;
  for (const Slot& s : slots_)
    if (s.open) d.push_back({s.first, s.written});
  return MergeRanges(std::move(d));
}

bool RangePlan::Complete() const {
  std::vector<ByteRange> d = Done();
  return total_ > 0 && d.size() == 1 && d.front().first == 0 && d.front().end == total_;
}

}  // namespace download
