// Writes a generated module for benchmarks and measurements:
//   make-module OUT COUNT [shared] [pe32plus]
// COUNT distinct names of about 27 bytes, or with "shared" COUNT entries
// that all point at one short name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "PeWriter.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT COUNT [shared] [pe32plus]\n", argv[0]);
    return 2;
  }
  kestrove::testing::PeModule module;
  module.namesLast = true;  // the table, then the names, as linkers lay them out
  const auto count = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
  bool shared = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "shared") == 0) shared = true;
    if (std::strcmp(argv[i], "pe32plus") == 0) module.pe32plus = true;
  }
  if (shared) {
    module.names = {"Name"};
    module.sharedNameCount = static_cast<std::uint32_t>(count);
  } else {
    module.names = kestrove::testing::BenchmarkNames(count);
  }
  try {
    kestrove::testing::WriteBytes(argv[1], kestrove::testing::BuildPe(module).bytes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
