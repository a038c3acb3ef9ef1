#include "Profile.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include "AtomicFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrove::platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view s) {
  const std::size_t begin = s.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  const std::size_t end = s.find_last_not_of(kBlanks);
  return s.substr(begin, end - begin + 1);
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One line of a file: its text runs from `begin` to `stop`, its line ending
// (CR LF, LF, or none on a last line) from `stop` to `end`.
struct Line {
  std::size_t begin;
  std::size_t stop;
  std::size_t end;
};

// The lines of `content`; `ending` is the first line ending found, which new
// lines get too (the system's when there is none).
std::vector<Line> SplitLines(std::string_view content, std::string& ending) {
  std::vector<Line> lines;
  ending.clear();
  std::size_t at = 0;
  while (at < content.size()) {
    std::size_t newline = content.find('\n', at);
    const std::size_t end = newline == std::string_view::npos ? content.size() : newline + 1;
    std::size_t stop = newline == std::string_view::npos ? content.size() : newline;
    if (stop > at && newline != std::string_view::npos && content[stop - 1] == '\r') --stop;
    if (ending.empty() && newline != std::string_view::npos)
      ending.append(content.data() + stop, end - stop);
    lines.push_back({at, stop, end});
    at = end;
  }
  if (ending.empty()) {
#ifdef _WIN32
    ending.push_back('\r');
#endif
    ending.push_back('\n');
  }
  return lines;
}

// "[Name]" gives Name; anything else is no section header.
bool SectionName(std::string_view line, std::string_view& name) {
  const std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const std::size_t close = t.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// "Key=Value" gives both; comments and other lines are no entry.
bool Entry(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return !key.empty();
}

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

std::string ProfileLocation(const std::string& bareName) {
#ifdef _WIN32
  char folder[MAX_PATH];
  const UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return bareName;
  return (std::filesystem::path(folder) / bareName).string();
#else
  std::filesystem::path folder;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    folder = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    folder = std::filesystem::path(home) / ".config";
  } else {
    return bareName;
  }
  return (folder / bareName).string();
#endif
}

long ParseProfileInteger(const std::string& text, long fallback) {
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return fallback;
  unsigned long long value = 0;
  for (const char c : s) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return fallback;
    }
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFull) return fallback;
  }
  // A 32-bit integer: decimal must fit; hexadecimal may use all 32 bits.
  long long result;
  if (base == 16) {
    result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  } else {
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return fallback;
    result = static_cast<long long>(value);
  }
  return static_cast<long>(negative ? -result : result);
}

ProfileFile::ProfileFile(std::string path, std::string bareName)
    : path_(std::move(path)), bareName_(std::move(bareName)) {}

std::string ProfileLookup(std::string_view content, std::string_view section, std::string_view key,
                          const std::string& fallback) {
  std::string ending;
  bool inSection = false;
  bool seenSection = false;
  for (const Line& l : SplitLines(content, ending)) {
    const std::string_view line = content.substr(l.begin, l.stop - l.begin);
    std::string_view name;
    if (SectionName(line, name)) {
      // Only the first section of that name counts.
      if (inSection) break;
      inSection = !seenSection && SameText(name, section);
      seenSection = seenSection || inSection;
      continue;
    }
    std::string_view k, v;
    if (inSection && Entry(line, k, v) && SameText(k, key)) {
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      return std::string(v);
    }
  }
  return fallback;
}

std::string ProfileReplace(std::string_view content, std::string_view section, std::string_view key,
                           std::string_view value) {
  std::string ending;
  const std::vector<Line> lines = SplitLines(content, ending);
  auto text = [&](std::size_t i) {
    return content.substr(lines[i].begin, lines[i].stop - lines[i].begin);
  };
  std::string entry(key);
  entry.append("=").append(value);

  // Where the new line goes: over the key's old line, or after the last
  // non-blank line of the first section of that name, or in a new section
  // at the end. Every other byte of the file stays as it was.
  std::size_t replace = lines.size();
  std::size_t insertAfter = lines.size();
  bool inSection = false;
  bool found = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(text(i), name)) {
      if (inSection) break;
      inSection = !found && SameText(name, section);
      if (inSection) {
        found = true;
        insertAfter = i;
      }
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (Entry(text(i), k, v) && SameText(k, key)) {
      replace = i;
      break;
    }
    if (!Trim(text(i)).empty()) insertAfter = i;
  }

  std::string out;
  out.reserve(content.size() + entry.size() + section.size() + 8);
  if (replace < lines.size()) {
    const Line& l = lines[replace];
    out.append(content.substr(0, l.begin)).append(entry).append(content.substr(l.stop));
    return out;
  }
  std::size_t at = found ? lines[insertAfter].end : content.size();
  out.append(content.substr(0, at));
  // A last line without its line ending gets one before the new line.
  if (at > 0 && content[at - 1] != '\n') out.append(ending);
  if (!found) out.append("[").append(section).append("]").append(ending);
  out.append(entry).append(ending);
  out.append(content.substr(at));
  return out;
}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
  std::string content;
  if (!ReadFile(path_, content)) return fallback;
  return ProfileLookup(content, section, key, fallback);
}

long ProfileFile::ReadInteger(const std::string& section, const std::string& key,
                              long fallback) const {
  const std::string text = ReadString(section, key, std::string());
  if (text.empty()) return fallback;
  return ParseProfileInteger(text, fallback);
}

void ProfileFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
  std::string content;
  ReadFile(path_, content);  // a missing file is created
  const std::string out = ProfileReplace(content, section, key, value);
  AtomicFile file;
  std::error_code ignored;
  const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  if (!file.Open(path_) || !file.Write(out.data(), out.size()) || !file.Commit()) {
    throw EProfileWriteError(bareName_);
  }
}

void ProfileFile::WriteInteger(const std::string& section, const std::string& key, long value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace kestrove::platform
