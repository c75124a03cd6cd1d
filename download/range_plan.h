// Which connection writes which bytes of a file fetched in ranges. Pure
// bookkeeping, guarded by its owner's lock: pieces wait in a queue; a
// connection that finds the queue empty takes the second half of the piece
// with the most left (the slowest one), so that all end at about the same time.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "download/resume_state.h"

namespace download {

class RangePlan {
 public:
  // The missing part of [0, total) is cut into `pieces` about equal pieces;
  // a piece in flight is split only while both halves keep minSplit bytes.
  RangePlan(std::int64_t total, const std::vector<ByteRange>& done, int pieces, std::int64_t minSplit);

  struct Slot {
    std::int64_t first = 0;    // where the piece began
    std::int64_t written = 0;  // bytes [first, written) are on disk
    std::int64_t claimed = 0;  // a write of [written, claimed) is under way
    std::int64_t end = 0;      // lowered when another connection takes the rest
    bool open = false;
  };

  // A piece for a connection: from the queue, else split from the piece in
  // flight with the most left. Nothing when no piece is worth taking.
  [[nodiscard]] std::optional<int> Take();
  // How many of n bytes the slot may write now (0 at its end); marks them.
  std::int64_t Claim(int slot, std::int64_t n);
  // The claimed bytes are on disk.
  void Commit(int slot);
  // The connection leaves its piece: what it wrote counts as done, what it
  // did not goes back to the queue.
  void Release(int slot);

  [[nodiscard]] const Slot& slot(int i) const { return slots_[static_cast<std::size_t>(i)]; }
  // Done ranges, those of open pieces included.
  [[nodiscard]] std::vector<ByteRange> Done() const;
  [[nodiscard]] bool Complete() const;
  [[nodiscard]] int steals() const { return steals_; }
  [[nodiscard]] std::size_t queued() const { return queue_.size(); }

 private:
  std::int64_t total_;
  std::int64_t minSplit_;
  std::vector<ByteRange> done_;
  std::vector<ByteRange> queue_;
  std::vector<Slot> slots_;
  int steals_ = 0;
};

}  // namespace download
