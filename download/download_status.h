// What a download tells its owner, and when.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace download {

enum DownloadStatus : std::int32_t {
  kStarted = 1,   // file open, ticker running; sent just before the first read
  kProgress = 2,  // every tick
  kFinished = 3,  // the last report of every task that ran
  kFailed = -1,   // a failure was detected; Finished follows
  kRetrying = 4,  // a transient fault: the next attempt starts after retryInMs
  kVerifying = 5,  // every byte is there; its SHA-256 is being checked
};

// Why a download failed (or is about to be tried again).
enum class FailReason : std::int32_t {
  None,
  HttpStatus,   // the server answered httpStatus
  Connect,      // no connection, or it broke before the response
  Broken,       // the connection broke during the body, or the body came short
  Tls,          // the secure channel failed
  Stall,        // no byte for the stall limit
  DiskFull,     // the volume cannot hold the file (neededBytes more)
  WriteError,   // the file could not be written or published
  BadName,      // no address, or a target name Windows refuses
  Cancelled,    // stopped by its owner
  SizeChanged,  // the file on the server changed size while resuming
  Protocol,     // a malformed response or a refused redirect
  SizeMismatch,  // announced or received size is not the configured one
  HashMismatch,  // the whole file's SHA-256 is not the configured one
  WebPage,       // a web page (a login portal, say) came instead of the file
  Fat32Limit,    // the volume is FAT32 and the file is 4 GiB or more
};

// The reason as the player reads it: "服务器返回 404", "连接中断"...
std::string ReasonText(FailReason reason, std::int32_t httpStatus = 0, std::int64_t neededBytes = 0);

struct ProgressReport {
  std::int32_t userData = 0;
  std::int32_t status = 0;
  std::int64_t total = 0;  // announced Content-Length, 0 when none
  std::int64_t done = 0;
  std::int64_t remaining = 0;
  float fraction = 0.0f;  // 0.0 - 1.0
  float speed = 0.0f;     // KB/s, averaged
  std::int32_t elapsedMs = 0;
  std::string filePath;
  // Failed and Retrying: why. Retrying: the wait and the attempt to come
  // (2 for the first retry).
  FailReason reason = FailReason::None;
  std::int32_t httpStatus = 0;
  std::int64_t neededBytes = 0;
  std::int32_t retryInMs = 0;
  std::int32_t attempt = 0;
};

// Called from several threads, possibly at the same time.
using ProgressCallback = std::function<void(const ProgressReport&)>;

}  // namespace download
