#include <gtest/gtest.h>

#include <string>

#include <unistd.h>
#include <vector>

#include "PeWriter.h"
#include "TempDir.h"
#include "uHelper.h"

using kestrove::ERangeError;
using kestrove::ReadExportNames;
using kestrove::ReadExportNamesEx;
using kestrove::ReadOutcome;
using kestrove::TNameList;
using kestrove::testing::BuildPe;
using kestrove::testing::PeModule;
using kestrove::testing::TempDir;
using kestrove::testing::WriteBytes;

namespace {

std::vector<std::string> ToVector(const TNameList& names) {
  std::vector<std::string> v;
  for (std::size_t i = 0; i < names.Count(); ++i) v.emplace_back(names[i]);
  return v;
}

TNameList ListOf(const std::vector<std::string>& names) {
  TNameList list;
  for (const auto& n : names) list.Add(n);
  return list;
}

// Writes `module` into its own folder and reads it back.
struct Reading {
  std::vector<std::string> names;
  ReadOutcome outcome;
};

Reading Read(const PeModule& module) {
  TempDir dir;
  const std::string path = dir.File("module.dll");
  WriteBytes(path, BuildPe(module).bytes);
  TNameList names;
  const auto report = ReadExportNamesEx(path, names);
  return {ToVector(names), report.outcome};
}

}  // namespace

TEST(TNameList, HoldsDuplicatesEmptyNamesAndHighBytesAndCopiesWhole) {
  const std::vector<std::string> input = {"b", "a", "", "a", std::string("\xE9t\xE9\x00x", 5)};
  TNameList list = ListOf(input);
  EXPECT_EQ(list.Count(), 5u);
  EXPECT_EQ(list.ByteCount(), 1u + 1 + 0 + 1 + 5);
  EXPECT_EQ(ToVector(list), input);

  TNameList copy = list;
  EXPECT_EQ(copy, list);
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(ToVector(copy), input);  // the copy owns its bytes

  TNameList moved = std::move(copy);
  EXPECT_EQ(ToVector(moved), input);
  EXPECT_TRUE(copy.Empty());  // NOLINT(bugprone-use-after-move): moved-from is empty by design
  list = moved;
  EXPECT_EQ(list, moved);
}

// A copy shares the bytes but is a value of its own: changing either side
// never shows in the other.
TEST(TNameList, CopiesAreIndependentValues) {
  TNameList original = ListOf({"one", "two"});
  TNameList copy = original;
  EXPECT_TRUE(copy.SharesWith(original));

  copy.Add("three");  // the copy takes its own bytes before it changes
  EXPECT_FALSE(copy.SharesWith(original));
  EXPECT_EQ(ToVector(original), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(ToVector(copy), (std::vector<std::string>{"one", "two", "three"}));

  TNameList view = original;
  original.Clear();  // a shared list lets go of the bytes rather than copy them
  original.Add("new");
  EXPECT_EQ(ToVector(view), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(ToVector(original), std::vector<std::string>{"new"});

  TNameList reread = view;
  TempDir dir;
  PeModule m;
  m.names = {"Read"};
  WriteBytes(dir.File("m.dll"), BuildPe(m).bytes);
  ReadExportNames(dir.File("m.dll"), reread, false);
  EXPECT_EQ(ToVector(view), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(ToVector(reread), std::vector<std::string>{"Read"});
}

// Modules that read in full: what the list holds afterwards.
TEST(ReadExportNames, ListsNamesInTableOrder) {
  struct Case {
    const char* what;
    PeModule module;
    std::vector<std::string> expected;
    ReadOutcome outcome = ReadOutcome::Complete;
  };
  PeModule sorted;
  sorted.names = {"Alpha", "Beta", "Gamma"};
  PeModule plus = sorted;
  plus.pe32plus = true;
  PeModule unsorted;
  unsorted.names = {"zeta", "Alpha", "mu", "Beta"};
  PeModule duplicates;
  duplicates.names = {"Same", "Same", "Other", "Same"};
  PeModule highBytes;
  highBytes.names = {"caf\xE9", "\xFF\x80\x7F", "plain"};
  PeModule outside;
  outside.names = {"First", "Lost", "Third", "Gone"};
  outside.nameRva = {{1, 0x00000010}, {3, 0xFFFFFFF0}};  // headers; no section
  PeModule forwarded;  // forwarders carry their exported name like any other
  forwarded.names = {"ExitProcess", "HeapAlloc"};
  PeModule ordinalsOnly;
  ordinalsOnly.names = {};
  PeModule noExports;
  noExports.names = {"Hidden"};
  noExports.exportDirectory = false;
  PeModule namesAtTheEnd = sorted;
  namesAtTheEnd.namesLast = true;
  PeModule empty;
  empty.names = {""};

  const Case cases[] = {
      {"three names", sorted, {"Alpha", "Beta", "Gamma"}},
      {"PE32+", plus, {"Alpha", "Beta", "Gamma"}},
      {"unsorted table", unsorted, {"zeta", "Alpha", "mu", "Beta"}},
      {"duplicates", duplicates, {"Same", "Same", "Other", "Same"}},
      {"bytes above 0x7F", highBytes, {"caf\xE9", "\xFF\x80\x7F", "plain"}},
      {"name outside every section", outside, {"First", "", "Third", ""}},
      {"forwarded exports", forwarded, {"ExitProcess", "HeapAlloc"}},
      {"ordinal-only module", ordinalsOnly, {}},
      {"no export directory", noExports, {}, ReadOutcome::NoExportDirectory},
      {"names at the end of the file", namesAtTheEnd, {"Alpha", "Beta", "Gamma"}},
      {"an empty name", empty, {""}},
  };
  for (const Case& c : cases) {
    const Reading r = Read(c.module);
    EXPECT_EQ(r.names, c.expected) << c.what;
    EXPECT_EQ(r.outcome, c.outcome) << c.what;
  }
}

// Damaged tables end the reading and keep the names read so far.
TEST(ReadExportNames, StopsAtADamagedTableKeepingWhatWasRead) {
  struct Case {
    const char* what;
    PeModule module;
    std::vector<std::string> expected;
    ReadOutcome outcome;
  };
  PeModule pastEnd;
  pastEnd.names = {"One", "Two"};
  pastEnd.numberOfNames = 5;  // the table ends the file after two entries
  PeModule huge = pastEnd;
  huge.numberOfNames = 0xFFFFFFFF;
  PeModule unterminated;
  unterminated.names = {"One", "Two", "Thre"};
  unterminated.namesLast = true;
  unterminated.terminateLast = false;
  PeModule tableNowhere;
  tableNowhere.names = {"One"};
  tableNowhere.addressOfNames = 0x00FFFFF0;
  PeModule tableAtTheTop;
  tableAtTheTop.names = {"One"};
  tableAtTheTop.addressOfNames = 0xFFFFFFFC;

  const Case cases[] = {
      {"NumberOfNames past the end", pastEnd, {"One", "Two"}, ReadOutcome::TableDamaged},
      {"NumberOfNames 0xFFFFFFFF", huge, {"One", "Two"}, ReadOutcome::TableDamaged},
      {"last name without a NUL", unterminated, {"One", "Two"}, ReadOutcome::NameUnterminated},
      {"name table in no section", tableNowhere, {}, ReadOutcome::TableDamaged},
      {"name table RVA near 0xFFFFFFFF", tableAtTheTop, {}, ReadOutcome::TableDamaged},
  };
  for (const Case& c : cases) {
    const Reading r = Read(c.module);
    EXPECT_EQ(r.names, c.expected) << c.what;
    EXPECT_EQ(r.outcome, c.outcome) << c.what;
  }
}

// Sections and addresses that a well-formed linker never writes.
TEST(ReadExportNames, HandlesOddLayouts) {
  PeModule m;
  m.names = {"One", "Two", "Three"};
  struct Case {
    const char* what;
    void (*damage)(kestrove::testing::PeBytes&);
    std::vector<std::string> expected;
    ReadOutcome outcome;
  };
  const Case cases[] = {
      {"overlapping sections: the first that holds an address answers",
       [](kestrove::testing::PeBytes& pe) {
         const auto text = pe.layout.sectionTable;
         const auto edata = text + 40;
         pe.Put32(text + 12, pe.Get32(edata + 12));  // same RVA
         pe.Put32(text + 16, pe.Get32(edata + 16));  // same size
         pe.Put32(text + 20, pe.Get32(edata + 20));  // same file data
       },
       {"One", "Two", "Three"},
       ReadOutcome::Complete},
      {"export directory in the headers",
       [](kestrove::testing::PeBytes& pe) { pe.Put32(pe.layout.exportEntry, 0x40); },
       {},
       ReadOutcome::NoExportDirectory},
      {"export directory cut short by the end of the file",
       [](kestrove::testing::PeBytes& pe) {
         pe.Put32(pe.layout.exportEntry,
                  pe.layout.edataRva +
                      static_cast<std::uint32_t>(pe.bytes.size() - pe.layout.edataOffset - 20));
       },
       {},
       ReadOutcome::TableDamaged},
      {"no data directories at all",
       [](kestrove::testing::PeBytes& pe) {
         pe.Put32(pe.layout.exportEntry - 4, 0);  // NumberOfRvaAndSizes
       },
       {},
       ReadOutcome::NoExportDirectory},
      {"export section at the top of the address space",
       [](kestrove::testing::PeBytes& pe) {
         // Moving .edata to 0xFFFFF000 leaves every address in it pointing
         // nowhere, and the directory cannot wrap round to low addresses.
         pe.Put32(pe.layout.sectionTable + 40 + 12, 0xFFFFF000);
         pe.Put32(pe.layout.exportEntry, 0xFFFFF000);
       },
       {},
       ReadOutcome::TableDamaged},
  };
  for (const Case& c : cases) {
    kestrove::testing::PeBytes pe = BuildPe(m);
    c.damage(pe);
    TempDir dir;
    WriteBytes(dir.File("m.dll"), pe.bytes);
    TNameList names;
    const auto report = ReadExportNamesEx(dir.File("m.dll"), names);
    EXPECT_EQ(ToVector(names), c.expected) << c.what;
    EXPECT_EQ(report.outcome, c.outcome) << c.what;
  }
}

// Another program cuts the file short after it was mapped: the pages past
// the new end raise a bus error when touched. The reading ends there with
// the names read so far instead of bringing the program down.
TEST(ReadExportNames, AFileCutShortWhileItIsReadEndsTheReadingSafely) {
  TempDir dir;
  const std::string path = dir.File("shrinking.dll");
  PeModule m;
  m.namesLast = true;
  m.names = kestrove::testing::BenchmarkNames(200'000);
  const auto pe = BuildPe(m);
  WriteBytes(path, pe.bytes);

  kestrove::platform::LoadedImage loaded;
  ASSERT_EQ(loaded.MapAndLoad(path), kestrove::platform::ImageError::None);
  const std::uint64_t cut = pe.layout.nameTable + 4 * 200'000 + 1'000'000;
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut)), 0);

  TNameList names;
  const auto report = kestrove::ReadExportNamesFromImage(loaded.FileHeader(), names);
  EXPECT_EQ(report.outcome, ReadOutcome::FileShrank);
  EXPECT_GT(names.Count(), 30'000u);
  EXPECT_LT(names.Count(), 200'000u);
  EXPECT_EQ(report.namesRead, names.Count());
  EXPECT_EQ(names[0], "Kestrove_ExportedName_0000000");
  EXPECT_EQ(names[30'000], "Kestrove_ExportedName_0030000");

  // The program goes on: the next reading of a sound file works.
  WriteBytes(path, pe.bytes);
  kestrove::ReadExportNames(path, names, false);
  EXPECT_EQ(names.Count(), 200'000u);
}

TEST(ReadExportNames, ClearsTheListForFilesItCannotUse) {
  TempDir dir;
  WriteBytes(dir.File("empty.dll"), {});
  WriteBytes(dir.File("text.txt"), std::vector<std::uint8_t>(100, 'a'));
  PeModule m;
  m.names = {"Kept"};
  WriteBytes(dir.File("good.dll"), BuildPe(m).bytes);

  for (const std::string& path :
       std::vector<std::string>{dir.File("empty.dll"), dir.File("text.txt"),
                                dir.File("missing.dll"), dir.Path().string()}) {
    TNameList names;
    ReadExportNames(dir.File("good.dll"), names, false);
    ASSERT_EQ(names.Count(), 1u);
    ReadExportNames(path, names, false);
    EXPECT_TRUE(names.Empty()) << path;
  }
}

TEST(ReadExportNames, ASecondModuleReplacesTheFirst) {
  TempDir dir;
  PeModule first;
  first.names = {"A1", "A2", "A3"};
  PeModule second;
  second.names = {"B1"};
  WriteBytes(dir.File("first.dll"), BuildPe(first).bytes);
  WriteBytes(dir.File("second.dll"), BuildPe(second).bytes);
  TNameList names;
  ReadExportNames(dir.File("first.dll"), names, false);
  ReadExportNames(dir.File("second.dll"), names, false);
  EXPECT_EQ(ToVector(names), std::vector<std::string>{"B1"});
}

TEST(ReadExportNames, CompleteReadingListsTheSameNames) {
  TempDir dir;
  PeModule m;
  m.names = {"b", "a", "b", ""};
  m.nameRva = {{3, 0xFFFF0000}};
  WriteBytes(dir.File("m.dll"), BuildPe(m).bytes);
  TNameList plain;
  TNameList complete;
  ReadExportNames(dir.File("m.dll"), plain, false);
  ReadExportNames(dir.File("m.dll"), complete, true);
  EXPECT_EQ(plain, complete);
  EXPECT_EQ(plain.Count(), 4u);
}

// The name pointer table is read up to index 0xFFFFF; one more name raises
// the range error with every name read so far kept.
TEST(ReadExportNames, RaisesTheRangeErrorPastTheLimitKeepingTheNames) {
  TempDir dir;
  PeModule atLimit;
  atLimit.names = {"N"};
  atLimit.sharedNameCount = 1'048'576;
  PeModule overLimit = atLimit;
  overLimit.sharedNameCount = 1'048'577;
  WriteBytes(dir.File("at.dll"), BuildPe(atLimit).bytes);
  WriteBytes(dir.File("over.dll"), BuildPe(overLimit).bytes);

  TNameList names;
  ReadExportNames(dir.File("at.dll"), names, false);
  EXPECT_EQ(names.Count(), 1'048'576u);

  try {
    ReadExportNames(dir.File("over.dll"), names, false);
    FAIL() << "no range error";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
  ASSERT_EQ(names.Count(), 1'048'576u);
  EXPECT_EQ(names[0], "N");
  EXPECT_EQ(names[1'048'575], "N");
}

TEST(ReadExportNames, DescribesWhyAReadingFellShort) {
  kestrove::ReadReport report;
  report.outcome = ReadOutcome::TableDamaged;
  report.namesRead = 2;
  EXPECT_EQ(kestrove::DescribeReport(report),
            "Name table runs past the end of the file after 2 names");
  report.outcome = ReadOutcome::NoExportDirectory;
  EXPECT_EQ(kestrove::DescribeReport(report), "");
  report.outcome = ReadOutcome::NotModule;
  report.imageError = kestrove::platform::ImageError::NoSuchFile;
  EXPECT_EQ(kestrove::DescribeReport(report), "No such file or directory");
}
