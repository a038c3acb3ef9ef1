// Maps a PE/COFF module file read-only as a flat file and translates the
// addresses inside it through the section table. Nothing of the module is
// loaded or executed; every pointer handed out carries the number of bytes
// that remain in the view behind it, so no caller needs to trust the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrove::platform {

// A read-only window into the mapped view: `size` bytes are readable at
// `data`. An empty view (data == nullptr) means "none".
struct ByteView {
  const std::uint8_t* data = nullptr;
  std::uint64_t size = 0;

  explicit operator bool() const { return data != nullptr; }
};

// Why a file could not be used as a module.
enum class ImageError {
  None,
  NoSuchFile,
  CannotOpen,
  NotRegularFile,
  Empty,
  TooSmall,
  NotModule,
  TooLarge,
};

// A short reason in the style of the C library's messages.
const char* DescribeImageError(ImageError error);

// Remembers which section answered the last translation, so that addresses
// falling in the same section as the previous one need no search.
struct SectionCursor {
  std::uint32_t index = UINT32_MAX;
};

inline constexpr unsigned kDirectoryEntryExport = 0;

// The PE/COFF headers of a module held in memory (a mapped file or any
// buffer). Holds no ownership of the bytes.
class PeImage {
 public:
  // Checks the MZ and PE signatures, the optional header (PE32 or PE32+) and
  // that the headers and the section table lie inside `view`.
  ImageError Parse(ByteView view);

  ByteView View() const { return view_; }
  bool IsPe32Plus() const { return pe32plus_; }
  std::uint32_t SectionCount() const { return static_cast<std::uint32_t>(sections_.size()); }

  // Data directory entry `entry`, translated through the section table; none
  // when the module has no such entry or its address lies in no section.
  ByteView DirectoryEntryToData(unsigned entry, SectionCursor& cursor) const;

  // The bytes of the view at `rva`, found through the section table; none
  // when no section holds `rva` in its file data.
  ByteView RvaToVa(std::uint32_t rva, SectionCursor& cursor) const {
    if (cursor.index < sections_.size()) {
      const Section& s = sections_[cursor.index];
      if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) return At(s, rva);
    }
    return SearchSections(rva, cursor);
  }

 private:
  // A section header as the file really has it: its file data clamped to
  // the bytes the file holds.
  struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint64_t rawPointer;
  };
  ByteView At(const Section& s, std::uint32_t rva) const {
    const std::uint64_t offset = s.rawPointer + (rva - s.virtualAddress);
    return {view_.data + offset, view_.size - offset};
  }
  ByteView SearchSections(std::uint32_t rva, SectionCursor& cursor) const;

  ByteView view_;
  bool pe32plus_ = false;
  std::vector<Section> sections_;
  std::uint64_t directories_ = 0;
  std::uint32_t directoryCount_ = 0;
};

// A file mapped read-only into memory. Released by the destructor.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  ImageError Open(const std::string& path);
  void Close();
  ByteView View() const { return {static_cast<const std::uint8_t*>(address_), size_}; }

 private:
  void* address_ = nullptr;
  std::uint64_t size_ = 0;
#ifdef _WIN32
  void* mapping_ = nullptr;
#endif
};

// A module file mapped and its headers checked; the counterpart of one
// reading. The mapping is released by UnMapAndLoad or the destructor,
// whichever comes first.
class LoadedImage {
 public:
  // The path is used exactly as given: no extension is added to it.
  ImageError MapAndLoad(const std::string& path);
  void UnMapAndLoad();

  ByteView MappedAddress() const { return file_.View(); }
  const PeImage& FileHeader() const { return image_; }

 private:
  MappedFile file_;
  PeImage image_;
};

}  // namespace kestrove::platform
