// Real modules that nobody here wrote: the DLLs of Debian's mingw-w64
// runtime packages, compared name for name with binutils' reading of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "uHelper.h"

namespace {

namespace fs = std::filesystem;

struct Dll {
  std::string path;
  std::string objdump;
};

std::vector<Dll> RuntimeDlls() {
  std::vector<Dll> dlls;
  for (const char* triplet : {"i686-w64-mingw32", "x86_64-w64-mingw32"}) {
    const fs::path root = fs::path("/usr/lib/gcc") / triplet;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
      if (entry.is_regular_file() && entry.path().extension() == ".dll") {
        dlls.push_back({entry.path().string(), std::string(triplet) + "-objdump"});
      }
    }
  }
  return dlls;
}

// The names of objdump's "[Ordinal/Name Pointer] Table", in its order.
std::vector<std::string> ObjdumpNames(const Dll& dll) {
  const std::string command = dll.objdump + " -p '" + dll.path + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  ::pclose(pipe);

  std::vector<std::string> names;
  const std::string heading = "[Ordinal/Name Pointer] Table\n";
  std::size_t at = output.find(heading);
  if (at == std::string::npos) return names;
  at += heading.size();
  while (at < output.size() && output[at] == '\t') {
    const std::size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end - at);
    const std::size_t close = line.find("] ");
    if (close != std::string::npos) names.push_back(line.substr(close + 2));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return names;
}

}  // namespace

TEST(MingwRuntime, NamesMatchObjdumpNameForName) {
  const std::vector<Dll> dlls = RuntimeDlls();
  ASSERT_FALSE(dlls.empty()) << "no mingw-w64 runtime DLLs: install "
                                "gcc-mingw-w64-i686-win32-runtime and "
                                "gcc-mingw-w64-x86-64-win32-runtime (the test command does)";
  std::size_t total = 0;
  for (const Dll& dll : dlls) {
    const std::vector<std::string> expected = ObjdumpNames(dll);
    ASSERT_FALSE(expected.empty()) << dll.path << ": objdump listed no names";
    kestrove::TNameList names;
    const auto report = kestrove::ReadExportNamesEx(dll.path, names);
    EXPECT_EQ(report.outcome, kestrove::ReadOutcome::Complete) << dll.path;
    ASSERT_EQ(names.Count(), expected.size()) << dll.path;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(names[i], expected[i]) << dll.path << " entry " << i;
    }
    total += names.Count();
  }
  RecordProperty("names", static_cast<int>(total));
}
