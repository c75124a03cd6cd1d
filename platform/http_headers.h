// Response header lines kept for lookup by name, shared by the transport
// backends: libcurl hands them over line by line, WinHTTP as one block.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HttpHeaderBlock {
 public:
  void Clear() { fields_.clear(); }
  // One "Name: value" line, CR LF at its end allowed; a status line, a blank
  // line or a line without a colon is ignored.
  void AddLine(std::string_view line);
  // Lines separated by CR LF or LF, as WinHTTP's raw headers: the status
  // line first, then the fields.
  void AddBlock(std::string_view text);
  // The first field of this name (any case), value trimmed; empty if absent.
  [[nodiscard]] std::string Get(std::string_view name) const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// A request header line must stay one line: a CR, LF or NUL in it (say from a
// server's ETag sent back in If-Range) would start a header of its own.
[[nodiscard]] bool IsSingleHeaderLine(std::string_view line);

}  // namespace platform
