// Settings files in the private-profile (INI) format: "[Section]" lines
// followed by "Key=Value" lines. Every read looks at the file afresh and
// every write replaces it whole, keeping every other line as it was.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrove::platform {

// Raised when a write cannot be completed; the file keeps its old content.
class EProfileWriteError : public std::runtime_error {
 public:
  explicit EProfileWriteError(const std::string& bareName)
      : std::runtime_error("Unable to write to " + bareName) {}
};

// Where a settings file of the bare name `bareName` lives: on Windows the
// Windows directory; elsewhere $XDG_CONFIG_HOME, or ~/.config without it.
std::string ProfileLocation(const std::string& bareName);

// Reads a decimal integer, or a hexadecimal one written "$1F" or "0x1F";
// any other text gives `fallback`.
long ParseProfileInteger(const std::string& text, long fallback);

// The value of `key` in the first section named `section` of `content`, or
// `fallback`; the rules of ProfileFile::ReadString.
std::string ProfileLookup(std::string_view content, std::string_view section, std::string_view key,
                          const std::string& fallback);
// `content` with `key` set to `value` in section `section`, every other line
// kept; the rules of ProfileFile::WriteString.
std::string ProfileReplace(std::string_view content, std::string_view section, std::string_view key,
                           std::string_view value);

class ProfileFile {
 public:
  // `path` is the file used; `bareName` names it in error messages.
  ProfileFile(std::string path, std::string bareName);

  // Section and key match whatever their case; blanks around them and
  // around the value do not count, nor do quotes around the value. A
  // missing file, section or key gives `fallback`.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  long ReadInteger(const std::string& section, const std::string& key, long fallback) const;

  // Creates the file or the section when missing and replaces the key's old
  // value. Throws EProfileWriteError when the file cannot be replaced.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, long value);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string bareName_;
};

}  // namespace kestrove::platform
