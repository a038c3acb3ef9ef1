#include <gtest/gtest.h>

#include <string>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "AtomicFile.h"
#include "Profile.h"
#include "TempDir.h"

using kestrove::platform::AtomicFile;
using kestrove::platform::EProfileWriteError;
using kestrove::platform::ParseProfileInteger;
using kestrove::platform::ProfileFile;
using kestrove::testing::ReadWholeFile;
using kestrove::testing::TempDir;
using kestrove::testing::WriteWholeFile;

TEST(ProfileInteger, ReadsDecimalAndBothHexFormsAndNothingElse) {
  struct Case {
    const char* text;
    long expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"-3", -3},
      {"+7", 7},
      {"$0C", 12},
      {"0x0C", 12},
      {"0X1f", 31},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"abc", 99},
      {"", 99},
      {"12pt", 99},
      {"$", 99},
      {"0x", 99},
      {"1 2", 99},
      {"2147483648", 99},
      {"$100000000", 99},
      {"99999999999999999999", 99},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseProfileInteger(c.text, 99), c.expected) << c.text;
}

TEST(ProfileFile, ReadsSectionsAndKeysWhateverTheirCaseAndBlanks) {
  TempDir dir;
  const std::string path = dir.File("k.ini");
  WriteWholeFile(path,
                 "; comment\r\n"
                 "[Other]\r\n"
                 "Font.Name=Wrong\r\n"
                 "  [ settings ]  \r\n"
                 "  font.name  =  Courier New  \r\n"
                 "Font.Size=$0C\r\n"
                 "Font.Style=\"BOLD ITALIC\"\r\n"
                 "Font.Name=Second\r\n"
                 "[Settings]\r\n"
                 "Extra=from the duplicate section\r\n");
  const ProfileFile ini(path, "k.ini");
  EXPECT_EQ(ini.ReadString("Settings", "Font.Name", "Tahoma"), "Courier New");
  EXPECT_EQ(ini.ReadInteger("Settings", "Font.Size", 8), 12);
  EXPECT_EQ(ini.ReadString("SETTINGS", "FONT.STYLE", ""), "BOLD ITALIC");
  EXPECT_EQ(ini.ReadString("Settings", "Missing", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Settings", "Extra", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Nowhere", "Font.Name", "Tahoma"), "Tahoma");
  EXPECT_EQ(ini.ReadString("Other", "Font.Name", ""), "Wrong");
}

// Damaged or odd files give the defaults or the right value, never a crash.
TEST(ProfileFile, SurvivesOddFiles) {
  struct Case {
    const char* what;
    std::string content;
    std::string expected;  // Font.Name read with the default "Tahoma"
  };
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 131 + 7) % 256));
  const Case cases[] = {
      {"missing file", "", "Tahoma"},
      {"no final newline", "[Settings]\nFont.Name=Arial", "Arial"},
      {"LF endings", "[Settings]\nFont.Name=Arial\n", "Arial"},
      {"CR LF endings", "[Settings]\r\nFont.Name=Arial\r\n", "Arial"},
      {"NUL bytes", std::string("[Settings]\n\0\0x=\0\nFont.Name=Arial\n", 33), "Arial"},
      {"binary garbage", binary, "Tahoma"},
      {"unterminated section", "[Settings\nFont.Name=Arial\n", "Tahoma"},
      {"key without value", "[Settings]\nFont.Name=\n", ""},
      {"line without equals", "[Settings]\nFont.Name\n", "Tahoma"},
      {"a 10 MB line first",
       "[Settings]\nJunk=" + std::string(10 << 20, 'j') + "\nFont.Name=Arial\n", "Arial"},
      {"duplicate keys: the first counts", "[Settings]\nFont.Name=A\nFont.Name=B\n", "A"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.File("k.ini");
    if (std::string(c.what) != "missing file") WriteWholeFile(path, c.content);
    const ProfileFile ini(path, "k.ini");
    EXPECT_EQ(ini.ReadString("Settings", "Font.Name", "Tahoma"), c.expected) << c.what;
  }
}

TEST(ProfileFile, WritesCreateTheFileAndKeepEveryOtherLine) {
  TempDir dir;
  const std::string path = dir.File("sub/k.ini");
  ProfileFile ini(path, "k.ini");
  ini.WriteString("Settings", "Font.Name", "Tahoma");
  ini.WriteInteger("Settings", "Font.Size", 10);
  ini.WriteString("Settings", "Font.Style", "fsBold,fsItalic");
  EXPECT_EQ(ReadWholeFile(path),
            "[Settings]\nFont.Name=Tahoma\nFont.Size=10\nFont.Style=fsBold,fsItalic\n");

  const std::string rich =
      "; kept comment\r\n"
      "[First]\r\n"
      "a=1\r\n"
      "\r\n"
      "[settings]\r\n"
      "font.size = 3\r\n"
      "Other=x\r\n"
      "\r\n"
      "[Last]\r\n"
      "b=2";
  WriteWholeFile(path, rich);
  ini.WriteInteger("Settings", "Font.Size", 12);
  ini.WriteString("Settings", "Font.Name", "Arial");
  ini.WriteString("New", "k", "v");
  EXPECT_EQ(ReadWholeFile(path),
            "; kept comment\r\n"
            "[First]\r\n"
            "a=1\r\n"
            "\r\n"
            "[settings]\r\n"
            "Font.Size=12\r\n"
            "Other=x\r\n"
            "Font.Name=Arial\r\n"
            "\r\n"
            "[Last]\r\n"
            "b=2\r\n"
            "[New]\r\n"
            "k=v\r\n");
  EXPECT_EQ(ini.ReadInteger("Settings", "Font.Size", 8), 12);
}

// Every line but the key's keeps its bytes, line endings included, however
// mixed they are; writing the same value twice changes nothing.
TEST(ProfileFile, WritesKeepOtherLinesByteForByte) {
  using kestrove::platform::ProfileReplace;
  const std::string content = "\n[Other]x\r\n[Settings]\r\nk=v\r\r\n\r[Other]\nlast";
  const std::string written = ProfileReplace(content, "Settings", "Font.Name", "Tahoma");
  EXPECT_EQ(written, "\n[Other]x\r\n[Settings]\r\nk=v\r\r\nFont.Name=Tahoma\n\r[Other]\nlast");
  EXPECT_EQ(ProfileReplace(written, "Settings", "Font.Name", "Tahoma"), written);
  EXPECT_EQ(ProfileReplace(written, "SETTINGS", "font.name", "Arial"),
            "\n[Other]x\r\n[Settings]\r\nk=v\r\r\nfont.name=Arial\n\r[Other]\nlast");
  EXPECT_EQ(ProfileReplace("a=1", "New", "k", "v"), "a=1\n[New]\nk=v\n");
}

TEST(ProfileFile, ARefusedWriteSaysSoAndKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("k.ini");
  WriteWholeFile(path, "[Settings]\nFont.Name=Old\n");
  ProfileFile ini(path, "k.ini");
  AtomicFile::FailWritesAfterForTesting(5);
  try {
    ini.WriteString("Settings", "Font.Name", "New");
    ADD_FAILURE() << "the write did not fail";
  } catch (const EProfileWriteError& e) {
    EXPECT_STREQ(e.what(), "Unable to write to k.ini");
  }
  AtomicFile::FailWritesAfterForTesting(-1);
  EXPECT_EQ(ReadWholeFile(path), "[Settings]\nFont.Name=Old\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind

  ProfileFile blocked(dir.File("k.ini/inside.ini"), "inside.ini");  // parent is a file
  EXPECT_THROW(blocked.WriteString("Settings", "Font.Name", "x"), EProfileWriteError);
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  WriteWholeFile(path, "old content");
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write("new", 3));
    EXPECT_EQ(ReadWholeFile(path), "old content");  // untouched until the commit
    ASSERT_TRUE(file.Commit());
  }
  EXPECT_EQ(ReadWholeFile(path), "new");
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Write("abandoned", 9));
  }  // never committed
  EXPECT_EQ(ReadWholeFile(path), "new");

  AtomicFile file;
  EXPECT_FALSE(file.Open(dir.Path().string()));
  EXPECT_EQ(file.Error(), "Is a directory");
  EXPECT_FALSE(file.Open(dir.File("missing/out.txt")));
  EXPECT_EQ(file.Error(), "No such file or directory");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

// A real full disk and a read-only folder, on a tmpfs of 64 KiB.
TEST(AtomicFile, AFullDiskOrAReadOnlyFolderKeepsTheOldFile) {
  TempDir dir;
  const std::string mountPoint = dir.File("small");
  std::filesystem::create_directory(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{mountPoint};
  const std::string path = mountPoint + "/out.txt";
  WriteWholeFile(path, "old content");
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(path));
    const std::string block(16 * 1024, 'x');
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i) ok = file.Write(block.data(), block.size());
    if (ok) ok = file.Commit();
    EXPECT_FALSE(ok);
    EXPECT_EQ(file.Error(), "No space left on device");
  }
  EXPECT_EQ(ReadWholeFile(path), "old content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mountPoint),
                          std::filesystem::directory_iterator()),
            1);

  ASSERT_EQ(::mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
  AtomicFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_EQ(file.Error(), "Read-only file system");
  ProfileFile ini(mountPoint + "/k.ini", "k.ini");
  EXPECT_THROW(ini.WriteString("Settings", "Font.Name", "x"), EProfileWriteError);
  EXPECT_EQ(ReadWholeFile(path), "old content");
}

TEST(AtomicFile, WritesThroughALinkAndKeepsPermissions) {
  TempDir dir;
  const std::string real = dir.File("real.txt");
  const std::string link = dir.File("link.txt");
  WriteWholeFile(real, "old");
  std::filesystem::permissions(real, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  std::filesystem::create_symlink(real, link);
  AtomicFile file;
  ASSERT_TRUE(file.Open(link));
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadWholeFile(real), "new");
  EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_write |
                                                             std::filesystem::perms::group_read);
}

TEST(ProfileLocation, FollowsXdgConfigHome) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved != nullptr ? saved : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/kestrove-config", 1);
  EXPECT_EQ(kestrove::platform::ProfileLocation("viewer.ini"), "/tmp/kestrove-config/viewer.ini");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(kestrove::platform::ProfileLocation("viewer.ini"), "/home/someone/.config/viewer.ini");
  if (saved != nullptr) {
    ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}
