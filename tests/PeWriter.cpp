#include "PeWriter.h"

#include <cstdio>
#include <stdexcept>

namespace kestrove::testing {

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x400;
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint32_t kEdataRva = 0x2000;
constexpr std::uint64_t kLfanew = 0x80;

std::uint32_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

}  // namespace

void PeBytes::Put16(std::uint64_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<std::uint8_t>(value);
  bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PeBytes::Put32(std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t PeBytes::Get32(std::uint64_t offset) const {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
  return value;
}

PeBytes BuildPe(const PeModule& m) {
  const std::size_t entries = m.sharedNameCount ? *m.sharedNameCount : m.names.size();
  const std::size_t functions = entries == 0 ? 1 : (entries > 0x10000 ? 0x10000 : entries);
  const char moduleName[] = "test.dll";

  // The export section: directory, address table, ordinal table, module
  // name, then the names and the name pointer table in the chosen order.
  std::vector<std::uint8_t> edata(40 + 4 * functions + 2 * entries + sizeof moduleName, 0);
  const std::uint64_t eat = 40;
  const std::uint64_t ordinals = eat + 4 * functions;
  const std::uint64_t modName = ordinals + 2 * entries;
  std::copy(moduleName, moduleName + sizeof moduleName, edata.begin() + modName);

  std::vector<std::uint64_t> nameOffsets;
  auto appendNames = [&] {
    const std::size_t distinct = m.sharedNameCount ? (m.names.empty() ? 0 : 1) : m.names.size();
    for (std::size_t i = 0; i < distinct; ++i) {
      nameOffsets.push_back(edata.size());
      edata.insert(edata.end(), m.names[i].begin(), m.names[i].end());
      const bool last = i + 1 == distinct;
      if (!(last && m.namesLast && !m.terminateLast)) edata.push_back(0);
    }
  };
  std::uint64_t table = 0;
  auto appendTable = [&] {
    edata.resize((edata.size() + 3) & ~std::size_t{3}, 0);  // linkers align it
    table = edata.size();
    edata.resize(edata.size() + 4 * entries, 0);
  };
  if (m.namesLast) {
    appendTable();
    appendNames();
  } else {
    appendNames();
    appendTable();
  }

  PeBytes pe;
  auto put32 = [&edata](std::uint64_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) edata[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(12, static_cast<std::uint32_t>(kEdataRva + modName));
  put32(16, 1);
  put32(20, static_cast<std::uint32_t>(functions));
  put32(24, m.numberOfNames ? *m.numberOfNames : static_cast<std::uint32_t>(entries));
  put32(28, static_cast<std::uint32_t>(kEdataRva + eat));
  put32(32, m.addressOfNames ? *m.addressOfNames : static_cast<std::uint32_t>(kEdataRva + table));
  put32(36, static_cast<std::uint32_t>(kEdataRva + ordinals));
  for (std::size_t f = 0; f < functions; ++f) put32(eat + 4 * f, kTextRva);
  for (std::size_t i = 0; i < entries; ++i) {
    const auto ordinal = static_cast<std::uint16_t>(i < functions ? i : 0);
    edata[ordinals + 2 * i] = static_cast<std::uint8_t>(ordinal);
    edata[ordinals + 2 * i + 1] = static_cast<std::uint8_t>(ordinal >> 8);
    std::uint32_t rva = 0;
    if (!nameOffsets.empty()) {
      rva = static_cast<std::uint32_t>(kEdataRva + nameOffsets[m.sharedNameCount ? 0 : i]);
    }
    if (auto it = m.nameRva.find(i); it != m.nameRva.end()) rva = it->second;
    put32(table + 4 * i, rva);
  }

  // Headers, a one-byte code section and the export section, which ends the
  // file with no padding so that a table or a name can run into its end.
  const std::uint32_t textOffset = kHeadersSize;
  const std::uint32_t edataOffset = textOffset + kFileAlignment;
  pe.bytes.assign(edataOffset, 0);
  pe.bytes.insert(pe.bytes.end(), edata.begin(), edata.end());
  pe.bytes[textOffset] = 0xC3;

  const std::uint64_t optSize = m.pe32plus ? 240 : 224;
  PeLayout& l = pe.layout;
  l.ntHeaders = kLfanew;
  l.optionalHeader = kLfanew + 24;
  l.sectionTable = l.optionalHeader + optSize;
  l.exportEntry = l.optionalHeader + (m.pe32plus ? 112 : 96);
  l.edataRva = kEdataRva;
  l.edataOffset = edataOffset;
  l.exportDirectory = edataOffset;
  l.nameTable = edataOffset + table;

  pe.bytes[0] = 'M';
  pe.bytes[1] = 'Z';
  pe.Put32(0x3C, static_cast<std::uint32_t>(kLfanew));
  pe.Put32(kLfanew, 0x00004550);  // "PE\0\0"
  const std::uint64_t fh = kLfanew + 4;
  pe.Put16(fh, m.pe32plus ? 0x8664 : 0x014C);
  pe.Put16(fh + 2, 2);
  pe.Put16(fh + 16, static_cast<std::uint16_t>(optSize));
  pe.Put16(fh + 18, m.pe32plus ? 0x2022 : 0x2102);

  const std::uint64_t oh = l.optionalHeader;
  const std::uint32_t imageSize = AlignUp(kEdataRva + edata.size(), kSectionAlignment);
  pe.Put16(oh, m.pe32plus ? 0x20B : 0x10B);
  pe.Put32(oh + 4, kFileAlignment);  // SizeOfCode
  pe.Put32(oh + 16, kTextRva);       // AddressOfEntryPoint
  pe.Put32(oh + 20, kTextRva);       // BaseOfCode
  if (m.pe32plus) {
    pe.Put32(oh + 24, 0x80000000);  // ImageBase, low half
    pe.Put32(oh + 28, 0x1);
  } else {
    pe.Put32(oh + 28, 0x10000000);  // ImageBase
  }
  pe.Put32(oh + 32, kSectionAlignment);
  pe.Put32(oh + 36, kFileAlignment);
  pe.Put16(oh + 40, 4);  // MajorOperatingSystemVersion
  pe.Put16(oh + 48, 4);  // MajorSubsystemVersion
  pe.Put32(oh + 56, imageSize);
  pe.Put32(oh + 60, kHeadersSize);
  pe.Put16(oh + 68, 3);  // console subsystem
  const std::uint64_t rvaCount = oh + (m.pe32plus ? 108 : 92);
  pe.Put32(rvaCount, 16);
  if (m.exportDirectory) {
    pe.Put32(l.exportEntry, kEdataRva);
    pe.Put32(l.exportEntry + 4, static_cast<std::uint32_t>(edata.size()));
  }

  auto section = [&](int index, const char* name, std::uint32_t rva, std::uint32_t virtualSize,
                     std::uint32_t rawSize, std::uint32_t rawPointer, std::uint32_t flags) {
    const std::uint64_t s = l.sectionTable + 40 * index;
    for (int i = 0; name[i] != '\0' && i < 8; ++i)
      pe.bytes[s + i] = static_cast<std::uint8_t>(name[i]);
    pe.Put32(s + 8, virtualSize);
    pe.Put32(s + 12, rva);
    pe.Put32(s + 16, rawSize);
    pe.Put32(s + 20, rawPointer);
    pe.Put32(s + 36, flags);
  };
  section(0, ".text", kTextRva, 1, kFileAlignment, textOffset, 0x60000020);
  section(1, ".edata", kEdataRva, static_cast<std::uint32_t>(edata.size()),
          static_cast<std::uint32_t>(edata.size()), edataOffset, 0x40000040);
  return pe;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot create " + path);
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> BenchmarkNames(std::size_t count) {
  std::vector<std::string> names;
  names.reserve(count);
  char buffer[64];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(buffer, sizeof buffer, "Kestrove_ExportedName_%07zu", i);
    names.emplace_back(buffer);
  }
  return names;
}

}  // namespace kestrove::testing
