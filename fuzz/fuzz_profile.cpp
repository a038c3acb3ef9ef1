// Arbitrary bytes as a settings file: reading never fails, and a written
// value reads back while every line that is not the key's survives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Profile.h"

using kestrove::platform::ProfileLookup;
using kestrove::platform::ProfileReplace;

namespace {

std::size_t Lines(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"Font.Name", "Font.Size", "Font.Style"}) {
    const std::string value = ProfileLookup(content, "Settings", key, "default");
    kestrove::platform::ParseProfileInteger(value, 8);
  }
  const std::string written = ProfileReplace(content, "Settings", "Font.Name", "Tahoma");
  if (ProfileLookup(written, "Settings", "Font.Name", "none") != "Tahoma") std::abort();
  // At most the section line and the key's line are new.
  if (Lines(written) > Lines(content) + 3) std::abort();
  // Writing the same value again changes nothing.
  if (ProfileReplace(written, "Settings", "Font.Name", "Tahoma") != written) std::abort();
  // The key, in whatever case, is still found once rewritten.
  const std::string recased = ProfileReplace(written, "SETTINGS", "font.name", "Arial");
  if (ProfileLookup(recased, "Settings", "Font.Name", "none") != "Arial") std::abort();
  return 0;
}
