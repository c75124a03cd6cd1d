#include "platform/log.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"

namespace platform {
namespace {

// Lines waiting for the writer (or for OpenLog); beyond this they are counted.
constexpr std::size_t kMaxQueuedLines = 1000;
// A longer text (a whole file in a message box) is cut: the log is for events.
constexpr std::size_t kMaxLineText = 4096;
constexpr auto kCloseWait = std::chrono::milliseconds(1000);
// CR LF: the support person opens the file in Notepad.
constexpr std::string_view kLineEnd = "\r\n";

std::string Timestamp() {
  LocalTime t = LocalTimeNow();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}

// One event, one line: line breaks and other control bytes are spelt out.
std::string FormatLine(std::string_view text) {
  bool cut = false;
  if (text.size() > kMaxLineText) {
    std::size_t n = kMaxLineText;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // not inside a character
    text = text.substr(0, n);
    cut = true;
  }
  std::string line = Timestamp();
  line.reserve(line.size() + 1 + text.size() + 8);
  line += ' ';
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (c == '\r') line += "\\r";
    else if (c == '\n') line += "\\n";
    else if ((b < 0x20 && c != '\t') || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      line += hex;
    } else {
      line += c;
    }
  }
  if (cut) line += "...";
  line += kLineEnd;
  return line;
}

struct LogState {
  std::mutex mutex;
  std::condition_variable wake;     // the writer: lines to write or a stop
  std::condition_variable stopped;  // CloseLog: the writer has finished
  std::vector<std::string> queue;
  std::size_t dropped = 0;
  std::string path;
  std::size_t cap = kLogCapBytes;
  bool stop = false;
  bool synchronous = false;  // no writer thread: Log writes the line itself
  bool writerRunning = false;
  // A writer left behind by a timed-out close sees a newer generation and
  // takes no more lines.
  unsigned generation = 0;
  std::thread writer;
  // One writer of the file at a time (a late writer, synchronous callers).
  std::mutex fileMutex;
};

// Never destroyed: a writer left behind by a timed-out close may still use it
// while the process ends.
LogState& State() {
  static LogState* state = new LogState;
  return *state;
}

// Called with the state locked.
std::vector<std::string> TakeBatch(LogState& s) {
  std::vector<std::string> batch;
  batch.swap(s.queue);
  if (s.dropped > 0) {
    batch.push_back(FormatLine(std::to_string(s.dropped) + " log lines dropped (queue full)"));
    s.dropped = 0;
  }
  return batch;
}

// The current file becomes the one older file.
bool Rotate(const std::string& path) {
  if (MoveFileReplace(path, path + ".1")) return true;
  // The older file may be held open: the cap matters more than older lines.
  return WriteFileBytes(path, std::string_view{});
}

void WriteLines(const std::string& path, std::size_t cap, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  std::uint64_t size = FileSizeOf(path).value_or(0);
  bool canRotate = true;
  std::string chunk;
  for (const std::string& line : lines) {
    if (canRotate && size + chunk.size() > 0 && size + chunk.size() + line.size() > cap) {
      if (!chunk.empty()) (void)AppendFileBytes(path, chunk);
      chunk.clear();
      // A file that cannot be rotated just grows: losing lines would be worse.
      canRotate = Rotate(path);
      size = FileSizeOf(path).value_or(0);
    }
    chunk += line;
  }
  // A failed write loses these lines; the next batch tries afresh.
  (void)AppendFileBytes(path, chunk);
}

void WriterLoop(unsigned generation) {
  LogState& s = State();
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&] { return s.stop || !s.queue.empty() || s.dropped > 0 || s.generation != generation; });
    if (s.generation != generation) return;  // CloseLog gave up on this writer
    if (s.queue.empty() && s.dropped == 0) break;  // stopped with everything written
    std::vector<std::string> batch = TakeBatch(s);
    std::string path = s.path;
    std::size_t cap = s.cap;
    lock.unlock();
    {
      std::lock_guard file(s.fileMutex);
      WriteLines(path, cap, batch);
    }
    lock.lock();
  }
  s.writerRunning = false;
  s.stopped.notify_all();
}

}  // namespace

void OpenLog(const std::string& path, std::size_t capBytes) {
  try {
    CloseLog();  // a second open moves the log
    LogState& s = State();
    std::unique_lock lock(s.mutex);
    s.path = path;
    s.cap = capBytes > 0 ? capBytes : kLogCapBytes;
    s.stop = false;
    s.synchronous = false;
    unsigned generation = ++s.generation;
    try {
      s.writer = std::thread(WriterLoop, generation);
      s.writerRunning = true;
    } catch (...) {
      // No thread to be had: callers write their own lines from now on.
      s.synchronous = true;
      std::vector<std::string> batch = TakeBatch(s);
      std::size_t cap = s.cap;
      lock.unlock();
      std::lock_guard file(s.fileMutex);
      WriteLines(path, cap, batch);
    }
  } catch (...) {
    // The launcher runs on without a log.
  }
}

void Log(std::string_view text) {
  try {
    std::string line = FormatLine(text);
    LogState& s = State();
    std::unique_lock lock(s.mutex);
    if (s.synchronous) {
      std::string path = s.path;
      std::size_t cap = s.cap;
      lock.unlock();
      std::lock_guard file(s.fileMutex);
      WriteLines(path, cap, {std::move(line)});
      return;
    }
    if (s.queue.size() >= kMaxQueuedLines) {
      ++s.dropped;
      return;
    }
    s.queue.push_back(std::move(line));
    if (s.writerRunning) s.wake.notify_one();
  } catch (...) {
    // Out of memory: the line is lost, the caller goes on.
  }
}

void CloseLog() {
  try {
    LogState& s = State();
    std::unique_lock lock(s.mutex);
    s.synchronous = false;
    if (!s.writer.joinable()) return;
    s.stop = true;
    s.wake.notify_all();
    bool finished = s.stopped.wait_for(lock, kCloseWait, [&] { return !s.writerRunning; });
    std::thread writer = std::move(s.writer);
    if (!finished) {
      // A disk that hangs must not hold the program's end.
      ++s.generation;
      s.writerRunning = false;
    }
    s.stop = false;
    lock.unlock();
    if (finished) writer.join();
    else writer.detach();
  } catch (...) {
  }
}

}  // namespace platform
