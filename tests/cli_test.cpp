#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PeWriter.h"
#include "TempDir.h"

using kestrove::testing::BuildPe;
using kestrove::testing::PeModule;
using kestrove::testing::ReadWholeFile;
using kestrove::testing::TempDir;
using kestrove::testing::WriteBytes;

namespace {

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs kestrove-names with `args`, from inside `dir`.
CliRun Names(const TempDir& dir, const std::vector<std::string>& args) {
  std::string command = "cd ";
  command.append(Quote(dir.Path().string())).append(" && ").append(Quote(KESTROVE_NAMES));
  for (const auto& a : args) command.append(" ").append(Quote(a));
  command.append(" >").append(Quote(dir.File("stdout")));
  command.append(" 2>").append(Quote(dir.File("stderr")));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWholeFile(dir.File("stdout")),
          ReadWholeFile(dir.File("stderr"))};
}

void WriteModule(const TempDir& dir, const std::string& name, std::vector<std::string> names) {
  PeModule m;
  m.names = std::move(names);
  WriteBytes(dir.File(name), BuildPe(m).bytes);
}

}  // namespace

TEST(KestroveNames, PrintsOneModulesNamesAsStored) {
  TempDir dir;
  WriteModule(dir, "a.dll", {"Zed", "caf\xE9", "", "Zed"});
  const CliRun r = Names(dir, {"a.dll"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Zed\ncaf\xE9\n\nZed\n");
  EXPECT_EQ(r.err, "");
}

TEST(KestroveNames, HeadsEachFileWhenGivenSeveralAndGoesOnPastFailures) {
  TempDir dir;
  WriteModule(dir, "a.dll", {"A1", "A2"});
  WriteModule(dir, "none.dll", {});
  WriteBytes(dir.File("notes.txt"), std::vector<std::uint8_t>(80, 'n'));
  const CliRun r = Names(dir, {"a.dll", "missing.dll", "none.dll", "notes.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\na.dll:\nA1\nA2\n\nnone.dll:\n");
  EXPECT_EQ(r.err,
            "kestrove-names: missing.dll: No such file or directory\n"
            "kestrove-names: notes.txt: Not a PE/COFF module\n");
}

TEST(KestroveNames, ModuleWithoutNamedExportsSucceedsQuietly) {
  TempDir dir;
  WriteModule(dir, "ordinals.dll", {});
  PeModule noExports;
  noExports.exportDirectory = false;
  WriteBytes(dir.File("app.exe"), BuildPe(noExports).bytes);
  const CliRun r = Names(dir, {"ordinals.dll", "--", "app.exe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nordinals.dll:\n\napp.exe:\n");
  EXPECT_EQ(r.err, "");
}

TEST(KestroveNames, PrintsTheNamesBeforeADamagedTableAndFails) {
  TempDir dir;
  PeModule m;
  m.names = {"One", "Two"};
  m.numberOfNames = 9;
  WriteBytes(dir.File("bad.dll"), BuildPe(m).bytes);
  const CliRun r = Names(dir, {"bad.dll"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "One\nTwo\n");
  EXPECT_EQ(r.err,
            "kestrove-names: bad.dll: Name table runs past the end of the file after 2 names\n");
}

TEST(KestroveNames, PrintsTheNamesReadBeforeTheRangeError) {
  TempDir dir;
  PeModule m;
  m.names = {"N"};
  m.sharedNameCount = 1'048'577;
  WriteBytes(dir.File("huge.dll"), BuildPe(m).bytes);
  const CliRun r = Names(dir, {"huge.dll"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.size(), 2u * 1'048'576);
  EXPECT_EQ(r.out.substr(0, 4), "N\nN\n");
  EXPECT_EQ(r.err, "kestrove-names: huge.dll: Range check error\n");
}

TEST(KestroveNames, AnswersHelpVersionAndUsageErrors) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* outStart;
    const char* errStart;
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage: kestrove-names [OPTION]... FILE...\n", ""},
      {{"-h"}, 0, "Usage: kestrove-names", ""},
      {{"--version"}, 0, "kestrove-names 1.5", ""},
      {{}, 2, "", "kestrove-names: no FILE given\n"},
      {{"--bogus"}, 2, "", "kestrove-names: unknown option '--bogus'\n"},
  };
  for (const Case& c : cases) {
    const CliRun r = Names(dir, c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.out.rfind(c.outStart, 0), 0u) << what << ": " << r.out;
    EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << what << ": " << r.err;
  }
}
