// tarnwick-config probe: asks every configured download address, main and
// spare, what a player's install would get from it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/launcher_config.h"

namespace tool {

// Text from a server or a configuration as a terminal may show it: control
// characters (C0, DEL, C1), the bidirectional overrides and bytes that are no
// UTF-8 written as \r, \n, \t, \xNN or \uNNNN, so that no escape sequence
// reaches the terminal. keepLines leaves LF and tab as they are.
std::string Printable(std::string_view text, bool keepLines = false);

struct ProbeTarget {
  std::string key;  // the address key, or key镜像[i] for a spare
  std::string url;
  std::optional<std::uint64_t> size;
  std::optional<platform::Sha256Digest> sha256;
};

struct ProbeOutcome {
  int status = 0;
  std::int64_t announced = -1;  // Content-Range total, else Content-Length
  bool ranges = false;          // 206 to the one-byte range
  std::string contentType;
  std::string tls;   // "-" for http, "ok", or what failed
  std::string failure;  // no answer: why
  std::int64_t received = -1;  // --full: bytes read
  std::string hash;            // --full: hex of what came
  int ms = 0;
  std::vector<std::string> problems;  // any of these fails a player's install or sends it to a spare
  std::vector<std::string> warnings;
};

// Main address first, then its spares, for every file of every version that
// has an address.
std::vector<ProbeTarget> ProbeTargets(const config::Configuration& cfg);

struct ProbeOptions {
  bool full = false;      // download each file whole and hash it
  int timeoutMs = 15000;  // per address: the whole probe, or (full) a stall
  int parallel = 16;
  // --full: a body that trickles in without ever stalling is cut off after
  // this many time-outs.
  static constexpr int kFullDeadlineFactor = 10;
};
// --timeout: whole seconds from 1 to an hour; nothing otherwise.
inline constexpr int kMaxTimeoutSeconds = 3600;
std::optional<int> ParseTimeoutSeconds(std::string_view text);

std::vector<ProbeOutcome> RunProbes(const std::vector<ProbeTarget>& targets, const ProbeOptions& options);

// The table and the problems below it.
std::string ProbeReport(const std::vector<ProbeTarget>& targets, const std::vector<ProbeOutcome>& outcomes,
                        bool full);

}  // namespace tool
