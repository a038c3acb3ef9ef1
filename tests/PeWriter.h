// Builds small PE/COFF modules in memory for tests, fuzz seeds and
// benchmarks: PE32 or PE32+, any list of export names, and the damaged
// forms a reader must survive.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrove::testing {

struct PeModule {
  bool pe32plus = false;
  std::vector<std::string> names;  // the bytes of each name, in table order
  bool exportDirectory = true;     // false: data directory entry 0 is empty

  // Entry i of the name pointer table holds this RVA instead of its name's.
  std::map<std::size_t, std::uint32_t> nameRva;
  // When set, the table has this many entries, all pointing at names[0].
  std::optional<std::uint32_t> sharedNameCount;
  // NumberOfNames as written, when it should not match the table.
  std::optional<std::uint32_t> numberOfNames;
  // AddressOfNames as written, when it should not point at the table.
  std::optional<std::uint32_t> addressOfNames;

  // Layout of the export data: the name pointer table ends the file
  // (default), or the names do; with `terminateLast` false the last name
  // then has no NUL and the file ends inside it.
  bool namesLast = false;
  bool terminateLast = true;
};

// Where the parts of a built module lie, for tests that damage it further.
struct PeLayout {
  std::uint64_t ntHeaders = 0;  // "PE\0\0"
  std::uint64_t optionalHeader = 0;
  std::uint64_t sectionTable = 0;
  std::uint64_t exportEntry = 0;      // data directory entry 0 (RVA, size)
  std::uint64_t exportDirectory = 0;  // file offset of the 40-byte directory
  std::uint64_t nameTable = 0;        // file offset of the name pointer table
  std::uint32_t edataRva = 0;         // RVA of the export section
  std::uint64_t edataOffset = 0;      // file offset of the export section
};

struct PeBytes {
  std::vector<std::uint8_t> bytes;
  PeLayout layout;

  void Put16(std::uint64_t offset, std::uint16_t value);
  void Put32(std::uint64_t offset, std::uint32_t value);
  std::uint32_t Get32(std::uint64_t offset) const;
};

PeBytes BuildPe(const PeModule& module);

// Writes `bytes` to `path`, replacing it; throws std::runtime_error on failure.
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// `count` distinct names of about 27 bytes, in ascending byte order.
std::vector<std::string> BenchmarkNames(std::size_t count);

}  // namespace kestrove::testing
