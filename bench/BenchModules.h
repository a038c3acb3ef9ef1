// The modules the benchmarks read, made once into the build folder.
#pragma once

#include <filesystem>
#include <string>

#include "PeWriter.h"

namespace kestrove::bench {

// 1,048,576 distinct names of about 27 bytes.
inline std::string MillionNameModule() {
  const std::string path = std::string(KESTROVE_BENCH_DIR) + "/names-1048576.dll";
  if (!std::filesystem::exists(path)) {
    kestrove::testing::PeModule m;
    m.namesLast = true;
    m.names = kestrove::testing::BenchmarkNames(1'048'576);
    kestrove::testing::WriteBytes(path, kestrove::testing::BuildPe(m).bytes);
  }
  return path;
}

// The mingw-w64 runtime DLL with the most bytes, or "" without the packages.
inline std::string LargestRuntimeDll() {
  std::string best;
  std::uintmax_t bestSize = 0;
  std::error_code ec;
  for (const char* root : {"/usr/lib/gcc/x86_64-w64-mingw32", "/usr/lib/gcc/i686-w64-mingw32"}) {
    if (!std::filesystem::is_directory(root, ec)) continue;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root, ec)) {
      if (e.path().extension() == ".dll" && e.file_size(ec) > bestSize) {
        bestSize = e.file_size(ec);
        best = e.path().string();
      }
    }
  }
  return best;
}

}  // namespace kestrove::bench
