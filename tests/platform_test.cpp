#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ImageHelp.h"
#include "PeWriter.h"
#include "TempDir.h"

using kestrove::platform::ByteView;
using kestrove::platform::ImageError;
using kestrove::platform::LoadedImage;
using kestrove::platform::PeImage;
using kestrove::platform::SectionCursor;
using kestrove::testing::BuildPe;
using kestrove::testing::PeBytes;
using kestrove::testing::PeModule;
using kestrove::testing::TempDir;

namespace {

ByteView ViewOf(const std::vector<std::uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

PeBytes SmallModule(bool pe32plus = false) {
  PeModule m;
  m.pe32plus = pe32plus;
  m.names = {"Alpha", "Beta"};
  return BuildPe(m);
}

}  // namespace

TEST(PeImage, AcceptsPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    const PeBytes pe = SmallModule(plus);
    PeImage image;
    ASSERT_EQ(image.Parse(ViewOf(pe.bytes)), ImageError::None) << "pe32plus=" << plus;
    EXPECT_EQ(image.IsPe32Plus(), plus);
    EXPECT_EQ(image.SectionCount(), 2u);
    SectionCursor cursor;
    const ByteView dir = image.DirectoryEntryToData(0, cursor);
    ASSERT_TRUE(dir);
    EXPECT_EQ(dir.data, pe.bytes.data() + pe.layout.exportDirectory);
    EXPECT_EQ(dir.size, pe.bytes.size() - pe.layout.exportDirectory);
  }
}

// Each row damages a well-formed module in one way that makes it no module.
TEST(PeImage, RejectsDamagedHeaders) {
  struct Case {
    const char* what;
    void (*damage)(PeBytes&);
    ImageError expected;
  };
  const Case cases[] = {
      {"empty", [](PeBytes& pe) { pe.bytes.clear(); }, ImageError::Empty},
      {"shorter than a DOS header", [](PeBytes& pe) { pe.bytes.resize(63); }, ImageError::TooSmall},
      {"no MZ", [](PeBytes& pe) { pe.bytes[0] = 'X'; }, ImageError::NotModule},
      {"e_lfanew past the end", [](PeBytes& pe) { pe.Put32(0x3C, 0xFFFFFFF0); },
       ImageError::NotModule},
      {"e_lfanew just short of the end",
       [](PeBytes& pe) { pe.Put32(0x3C, static_cast<std::uint32_t>(pe.bytes.size() - 4)); },
       ImageError::NotModule},
      {"no PE signature", [](PeBytes& pe) { pe.bytes[pe.layout.ntHeaders + 1] = 'X'; },
       ImageError::NotModule},
      {"unknown optional header magic",
       [](PeBytes& pe) { pe.Put16(pe.layout.optionalHeader, 0x107); }, ImageError::NotModule},
      {"optional header too short for its fields",
       [](PeBytes& pe) { pe.Put16(pe.layout.ntHeaders + 20, 40); }, ImageError::NotModule},
      {"optional header past the end",
       [](PeBytes& pe) { pe.Put16(pe.layout.ntHeaders + 20, 0xFFFF); }, ImageError::NotModule},
      {"section table past the end", [](PeBytes& pe) { pe.Put16(pe.layout.ntHeaders + 6, 0xFFFF); },
       ImageError::NotModule},
      {"headers cut short", [](PeBytes& pe) { pe.bytes.resize(pe.layout.sectionTable + 20); },
       ImageError::NotModule},
  };
  for (const Case& c : cases) {
    PeBytes pe = SmallModule();
    c.damage(pe);
    PeImage image;
    EXPECT_EQ(image.Parse(ViewOf(pe.bytes)), c.expected) << c.what;
    SectionCursor cursor;
    EXPECT_FALSE(image.DirectoryEntryToData(0, cursor)) << c.what;
  }
}

TEST(PeImage, TranslatesOnlyAddressesInSectionFileData) {
  const PeBytes pe = SmallModule();
  PeImage image;
  ASSERT_EQ(image.Parse(ViewOf(pe.bytes)), ImageError::None);
  const std::uint32_t edataSize =
      static_cast<std::uint32_t>(pe.bytes.size() - pe.layout.edataOffset);
  struct Case {
    std::uint32_t rva;
    bool found;
    std::uint64_t offset;  // expected file offset when found
  };
  const Case cases[] = {
      {0x1000, true, 0x400},                              // start of .text
      {0x11FF, true, 0x5FF},                              // last byte of .text's data
      {0x1200, false, 0},                                 // past .text's file data
      {0x0010, false, 0},                                 // in the headers
      {pe.layout.edataRva, true, pe.layout.edataOffset},  // start of .edata
      {pe.layout.edataRva + edataSize - 1, true, pe.bytes.size() - 1},
      {pe.layout.edataRva + edataSize, false, 0},  // just past the end
      {0xFFFFFFFF, false, 0},
  };
  SectionCursor cursor;
  for (const Case& c : cases) {
    const ByteView v = image.RvaToVa(c.rva, cursor);
    EXPECT_EQ(static_cast<bool>(v), c.found) << std::hex << c.rva;
    if (v) {
      EXPECT_EQ(v.data, pe.bytes.data() + c.offset) << std::hex << c.rva;
      EXPECT_EQ(v.size, pe.bytes.size() - c.offset) << std::hex << c.rva;
    }
  }
}

TEST(PeImage, SectionCursorFollowsTheLastSectionFound) {
  const PeBytes pe = SmallModule();
  PeImage image;
  ASSERT_EQ(image.Parse(ViewOf(pe.bytes)), ImageError::None);
  SectionCursor cursor;
  ASSERT_TRUE(image.RvaToVa(pe.layout.edataRva, cursor));
  EXPECT_EQ(cursor.index, 1u);
  ASSERT_TRUE(image.RvaToVa(0x1000, cursor));
  EXPECT_EQ(cursor.index, 0u);
  EXPECT_FALSE(image.RvaToVa(0x10, cursor));
  EXPECT_EQ(cursor.index, 0u);  // a miss leaves the cursor where it was
}

TEST(PeImage, ClampsSectionsToTheFile) {
  struct Case {
    const char* what;
    std::uint32_t rawSize;
    std::uint32_t rawPointer;
  };
  for (const Case& c : {Case{"data runs past the end", 0xFFFFFFFF, 0},
                        Case{"data starts past the end", 0x200, 0xFFFFFF00},
                        Case{"data at the top of the RVA space", 0x200, 0x7FFFFFFF}}) {
    PeBytes pe = SmallModule();
    const std::uint64_t text = pe.layout.sectionTable;
    pe.Put32(text + 16, c.rawSize);
    if (c.rawPointer != 0) pe.Put32(text + 20, c.rawPointer);
    // Move .text to the top of the address space: no wrap to low RVAs.
    pe.Put32(text + 12, 0xFFFFFF00);
    PeImage image;
    ASSERT_EQ(image.Parse(ViewOf(pe.bytes)), ImageError::None) << c.what;
    SectionCursor cursor;
    EXPECT_FALSE(image.RvaToVa(0x100, cursor)) << c.what;
    const ByteView top = image.RvaToVa(0xFFFFFFF0, cursor);
    if (top) {
      EXPECT_LE(top.data + top.size, pe.bytes.data() + pe.bytes.size()) << c.what;
    }
  }
}

TEST(LoadedImage, MapsAFileAndSaysWhyItCannot) {
  TempDir dir;
  const PeBytes pe = SmallModule(true);
  kestrove::testing::WriteBytes(dir.File("good.dll"), pe.bytes);
  kestrove::testing::WriteBytes(dir.File("empty.dll"), {});
  kestrove::testing::WriteBytes(dir.File("text.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
  const std::vector<std::uint8_t> text(200, 'x');
  kestrove::testing::WriteBytes(dir.File("long.txt"), text);
  kestrove::testing::WriteBytes(dir.File("noext"), pe.bytes);

  struct Case {
    std::string path;
    ImageError expected;
  };
  const Case cases[] = {
      {dir.File("good.dll"), ImageError::None},
      {dir.File("noext"), ImageError::None},
      {dir.File("empty.dll"), ImageError::Empty},
      {dir.File("text.txt"), ImageError::TooSmall},
      {dir.File("long.txt"), ImageError::NotModule},
      {dir.File("missing.dll"), ImageError::NoSuchFile},
      {dir.File("missing/inner.dll"), ImageError::NoSuchFile},
      {dir.Path().string(), ImageError::NotRegularFile},
  };
  for (const Case& c : cases) {
    LoadedImage loaded;
    EXPECT_EQ(loaded.MapAndLoad(c.path), c.expected) << c.path;
    EXPECT_EQ(static_cast<bool>(loaded.MappedAddress()), c.expected == ImageError::None) << c.path;
    loaded.UnMapAndLoad();
    EXPECT_FALSE(loaded.MappedAddress());
  }
}

TEST(LoadedImage, UsesThePathAsGivenWithoutAddingAnExtension) {
  TempDir dir;
  kestrove::testing::WriteBytes(dir.File("module.dll"), SmallModule().bytes);
  LoadedImage loaded;
  EXPECT_EQ(loaded.MapAndLoad(dir.File("module")), ImageError::NoSuchFile);
}

// A module of more than 4 GiB (sparse, so it takes no room on disk) maps
// whole, with its size in 64 bits.
TEST(LoadedImage, MapsAModuleLargerThanFourGiB) {
  TempDir dir;
  const std::string path = dir.File("huge.dll");
  const PeBytes pe = SmallModule();
  kestrove::testing::WriteBytes(path, pe.bytes);
  constexpr std::uint64_t kSize = (std::uint64_t{5} << 30) + 123;
  if (::truncate(path.c_str(), static_cast<off_t>(kSize)) != 0) {
    GTEST_SKIP() << "no sparse files here";
  }
  LoadedImage loaded;
  ASSERT_EQ(loaded.MapAndLoad(path), ImageError::None);
  EXPECT_EQ(loaded.MappedAddress().size, kSize);
  SectionCursor cursor;
  EXPECT_TRUE(loaded.FileHeader().DirectoryEntryToData(0, cursor));
}

// A socket is a path that exists but cannot be opened, even by root.
TEST(LoadedImage, RefusesAPathItCannotOpen) {
  TempDir dir;
  const std::string path = dir.File("socket");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::copy(path.begin(), path.end(), address.sun_path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  LoadedImage loaded;
  EXPECT_EQ(loaded.MapAndLoad(path), ImageError::CannotOpen);
  ::close(fd);
}
