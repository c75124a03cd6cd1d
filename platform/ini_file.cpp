#include "platform/ini_file.h"

#include <mutex>
#include <vector>

#include "platform/fs.h"
#include "platform/text_codec.h"

namespace platform {
namespace {
// The blanks the system's profile reader trims (0x1A is the old end-of-file mark).
bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A;
}
}  // namespace

namespace ini {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string_view CutAtNul(std::string_view s) {
  size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

// Length of the character at i. In GBK a trail byte may look like "]" or an
// ASCII letter, so scans and comparisons walk whole characters. Blanks, line
// breaks, "=" and quotes are below 0x40 and never trail bytes.
size_t CharLen(std::string_view s, size_t i, bool utf8) {
  auto c = static_cast<unsigned char>(s[i]);
  if (!utf8 && c >= 0x81 && c <= 0xFE && i + 1 < s.size()) {
    auto t = static_cast<unsigned char>(s[i + 1]);
    if (t >= 0x40 && t <= 0xFE && t != 0x7F) return 2;
  }
  return 1;
}

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool SameName(std::string_view a, std::string_view b, bool utf8) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size();) {
    size_t n = CharLen(a, i, utf8);
    if (n == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
    i += n;
  }
  return true;
}

struct Line {
  enum Kind { kBlank, kSection, kEntry };
  size_t begin = 0;       // first byte of the line
  size_t contentEnd = 0;  // first byte of its line break
  size_t end = 0;         // past its line break
  Kind kind = kBlank;
  std::string_view name;                  // section or key name
  std::optional<std::string_view> value;  // entries with "="
  size_t nameEnd = 0;                     // past the key name, before blanks and "="
};

Line ParseLine(std::string_view file, size_t begin, size_t contentEnd, size_t end, bool utf8) {
  Line line;
  line.begin = begin;
  line.contentEnd = contentEnd;
  line.end = end;
  std::string_view raw = file.substr(begin, contentEnd - begin);
  std::string_view content = Trim(raw);
  if (content.empty()) return line;
  size_t offset = begin + static_cast<size_t>(content.data() - raw.data());
  if (content[0] == '[') {
    // The name runs to the last "]" of the line; without one the line is an entry.
    size_t close = std::string_view::npos;
    for (size_t i = 1; i < content.size(); i += CharLen(content, i, utf8))
      if (content[i] == ']') close = i;
    if (close != std::string_view::npos) {
      line.kind = Line::kSection;
      line.name = CutAtNul(Trim(content.substr(1, close - 1)));
      return line;
    }
  }
  line.kind = Line::kEntry;
  size_t eq = content.find('=');
  std::string_view name = content.substr(0, eq);
  while (!name.empty() && IsBlank(static_cast<unsigned char>(name.back()))) name.remove_suffix(1);
  line.nameEnd = offset + name.size();
  line.name = CutAtNul(name);
  if (eq != std::string_view::npos) line.value = CutAtNul(Trim(content.substr(eq + 1)));
  return line;
}

// Lines end at CR LF, LF or a lone CR.
std::vector<Line> ParseLines(std::string_view file, bool utf8) {
  std::vector<Line> lines;
  size_t pos = utf8 ? kUtf8Bom.size() : 0;
  while (pos < file.size()) {
    size_t stop = file.find_first_of("\r\n", pos);
    size_t contentEnd = stop == std::string_view::npos ? file.size() : stop;
    size_t end = contentEnd;
    if (end < file.size()) {
      end += (file[end] == '\r' && end + 1 < file.size() && file[end + 1] == '\n') ? 2 : 1;
    }
    lines.push_back(ParseLine(file, pos, contentEnd, end, utf8));
    pos = end;
  }
  return lines;
}

// A section: its header line (none for the lines before the first header) and
// the lines up to the next header.
struct Section {
  std::optional<size_t> header;
  size_t first = 0;  // first line after the header
  size_t end = 0;    // past its last line
  std::string_view name;
};

std::vector<Section> GroupSections(const std::vector<Line>& lines) {
  std::vector<Section> sections(1);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::kSection) continue;
    sections.back().end = i;
    Section s;
    s.header = i;
    s.first = i + 1;
    s.name = lines[i].name;
    sections.push_back(s);
  }
  sections.back().end = lines.size();
  return sections;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const Section& s, std::string_view key, bool utf8) {
  for (size_t i = s.first; i < s.end; ++i)
    if (lines[i].kind == Line::kEntry && SameName(lines[i].name, key, utf8)) return i;
  return std::nullopt;
}

std::string Splice(std::string_view file, size_t from, size_t to, std::string_view insert) {
  std::string out;
  out.reserve(file.size() - (to - from) + insert.size());
  out.append(file.substr(0, from));
  out.append(insert);
  out.append(file.substr(to));
  return out;
}

}  // namespace

bool HasUtf8Bom(std::string_view file) { return file.substr(0, kUtf8Bom.size()) == kUtf8Bom; }

std::optional<std::string_view> FindRawValue(std::string_view file, std::string_view section, std::string_view key) {
  bool utf8 = HasUtf8Bom(file);
  std::vector<Line> lines = ParseLines(file, utf8);
  // Only the first section of a name is searched, as the system's reader does.
  for (const Section& s : GroupSections(lines)) {
    if (!SameName(s.name, section, utf8)) continue;
    if (auto i = FindKey(lines, s, key, utf8)) return lines[*i].value;
    return std::nullopt;
  }
  return std::nullopt;
}

std::string FinishValue(std::string_view raw, bool utf8) {
  if (raw.size() >= 2 && (raw[0] == '"' || raw[0] == '\'') && raw.back() == raw[0])
    raw = raw.substr(1, raw.size() - 2);
  if (raw.size() > kIniMaxValueBytes) {
    size_t cut = 0;
    if (utf8) {
      cut = kIniMaxValueBytes;
      while (cut > 0 && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80) --cut;
    } else {
      // never split a two-byte character
      for (size_t n; cut < raw.size() && cut + (n = CharLen(raw, cut, false)) <= kIniMaxValueBytes;) cut += n;
    }
    raw = raw.substr(0, cut);
  }
  return std::string(raw);
}

std::optional<std::string> Edit(std::string_view file, std::string_view section, std::optional<std::string_view> key,
                                std::optional<std::string_view> value) {
  bool utf8 = HasUtf8Bom(file);
  std::vector<Line> lines = ParseLines(file, utf8);
  std::vector<Section> sections = GroupSections(lines);

  if (!key) {
    // The first section of the name goes, from its header to the next header.
    for (const Section& s : sections) {
      if (!s.header || !SameName(s.name, section, utf8)) continue;
      return Splice(file, lines[*s.header].begin, lines[s.end - 1].end, {});
    }
    return std::nullopt;
  }

  if (!value) {
    // The first entry of the key in any section of the name.
    for (const Section& s : sections) {
      if (!SameName(s.name, section, utf8)) continue;
      if (auto i = FindKey(lines, s, *key, utf8)) return Splice(file, lines[*i].begin, lines[*i].end, {});
    }
    return std::nullopt;
  }

  std::string_view v = *value;
  while (!v.empty() && IsBlank(static_cast<unsigned char>(v.front()))) v.remove_prefix(1);
  std::string entry;
  entry.append(*key).append("=").append(v).append(kCrLf);

  for (const Section& s : sections) {
    if (!SameName(s.name, section, utf8)) continue;
    if (auto i = FindKey(lines, s, *key, utf8)) {
      const Line& line = lines[*i];
      if (line.value && *line.value == v) return std::nullopt;
      // Keep the line's indentation, name and line break; replace the rest.
      std::string replacement("=");
      replacement.append(v);
      return Splice(file, line.nameEnd, line.contentEnd, replacement);
    }
    // After the last line of the section that is not blank, so blank lines
    // before the next header stay where they are.
    std::optional<size_t> after = s.header;
    for (size_t i = s.first; i < s.end; ++i)
      if (lines[i].kind != Line::kBlank) after = i;
    if (!after) {
      // Keys before the first header, and none yet: at the start of the file.
      size_t at = utf8 ? kUtf8Bom.size() : 0;
      return Splice(file, at, at, entry);
    }
    const Line& last = lines[*after];
    std::string insert;
    if (last.contentEnd == last.end) insert.append(kCrLf);  // the file's last line had no break
    insert.append(entry);
    return Splice(file, last.end, last.end, insert);
  }

  std::string out(file);
  size_t start = utf8 ? kUtf8Bom.size() : 0;
  if (out.size() > start && out.back() != '\n' && out.back() != '\r') out.append(kCrLf);
  out.append("[").append(section).append("]").append(kCrLf).append(entry);
  return out;
}

}  // namespace ini

namespace {

// The caller's names lose their leading bytes of value 32 or lower; the
// system's reader then trims blanks at both ends.
std::string_view SkipLow(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  return s.substr(i);
}

std::string_view CleanName(std::string_view s) {
  s = SkipLow(s);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Caller text in the file's encoding; nothing when GBK cannot hold it.
std::optional<std::string> ToFile(std::string_view utf8Text, bool utf8File) {
  if (utf8File) {
    if (!IsValidUtf8(utf8Text)) return std::nullopt;
    return std::string(utf8Text);
  }
  bool ok = true;
  std::string gbk = Utf8ToGbk(utf8Text, &ok);
  if (!ok) return std::nullopt;
  return gbk;
}

std::string FromFile(const std::string& text, bool utf8File) { return utf8File ? text : GbkToUtf8(text); }

// The default as the system's reader hands it back: trailing spaces and one
// pair of quotes removed, capped like a value.
std::string FinishDefault(std::string_view def) {
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  if (def.size() <= kIniMaxValueBytes) return ini::FinishValue(def, true);
  if (auto gbk = ToFile(def, false)) return GbkToUtf8(ini::FinishValue(*gbk, false));
  return ini::FinishValue(def, true);
}

bool StorableName(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::mutex& WriteLock() {
  static std::mutex m;
  return m;
}

}  // namespace

std::string ReadIniItem(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view defaultValue) {
  std::string_view path = SkipLow(file);
  std::string_view sec = CleanName(section);
  std::string_view k = CleanName(key);
  if (path.empty() || sec.empty() || k.empty()) return {};

  std::optional<Bytes> bytes = ReadWholeFile(std::string(path));
  if (!bytes) return FinishDefault(defaultValue);
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  bool utf8 = ini::HasUtf8Bom(text);
  auto fileSec = ToFile(sec, utf8);
  auto fileKey = ToFile(k, utf8);
  if (!fileSec || !fileKey) return FinishDefault(defaultValue);  // no such name can be in the file
  auto raw = ini::FindRawValue(text, *fileSec, *fileKey);
  if (!raw) return FinishDefault(defaultValue);
  return FromFile(ini::FinishValue(*raw, utf8), utf8);
}

bool WriteIniItem(const std::string& file, std::string_view section, std::optional<std::string_view> key,
                  std::optional<std::string_view> value) {
  std::string path(SkipLow(file));
  std::string_view sec = CleanName(section);
  if (path.empty() || sec.empty() || !StorableName(sec)) return false;
  std::optional<std::string_view> k;
  if (key) {
    k = CleanName(*key);
    // A key that could not be read back: "=" would end it early, "[" could make it a header.
    if (k->empty() || !StorableName(*k) || k->find('=') != std::string_view::npos || k->front() == '[') return false;
  }
  if (key && value && !StorableName(*value)) return false;

  std::lock_guard<std::mutex> lock(WriteLock());
  std::optional<Bytes> bytes = ReadWholeFile(path);
  if (!bytes) {
    if (FileExists(path)) return false;  // there but unreadable: never overwrite it blind
    if (!key || !value) return true;     // nothing to delete
    bytes.emplace();
  }
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  bool utf8 = ini::HasUtf8Bom(text);
  auto fileSec = ToFile(sec, utf8);
  if (!fileSec) return false;
  std::optional<std::string> fileKey, fileValue;
  if (k && !(fileKey = ToFile(*k, utf8))) return false;
  if (k && value && !(fileValue = ToFile(*value, utf8))) return false;

  std::optional<std::string_view> keyArg, valueArg;
  if (fileKey) keyArg = *fileKey;
  if (fileValue) valueArg = *fileValue;
  std::optional<std::string> edited = ini::Edit(text, *fileSec, keyArg, valueArg);
  if (!edited) return true;  // already as asked
  return ReplaceFileAtomically(path, *edited);
}

}  // namespace platform
