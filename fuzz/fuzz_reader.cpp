// Arbitrary bytes as a module, read the way ReadExportNames reads a mapped
// file. Checks that every name the reading keeps lies in the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "ImageHelp.h"
#include "uHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrove::platform::PeImage image;
  if (image.Parse({data, size}) != kestrove::platform::ImageError::None) return 0;
  kestrove::TNameList names;
  try {
    kestrove::ReadExportNamesFromImage(image, names);
  } catch (const kestrove::ERangeError&) {
    if (names.Count() != kestrove::kMaxNameIndex + 1u) std::abort();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  // A name holds no NUL and is no longer than the input.
  for (std::size_t i = 0; i < names.Count(); ++i) {
    const std::string_view name = names[i];
    if (name.size() >= size || name.find('\0') != std::string_view::npos) std::abort();
  }
  return 0;
}
