#include "ImageHelp.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrove::platform {

namespace {

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kFileHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
// Offsets inside the optional header.
constexpr std::uint64_t kRvaCountPe32 = 92;
constexpr std::uint64_t kRvaCountPe32Plus = 108;
constexpr std::uint64_t kDataDirectorySize = 8;

}  // namespace

const char* DescribeImageError(ImageError error) {
  switch (error) {
    case ImageError::None:
      return "Success";
    case ImageError::NoSuchFile:
      return "No such file or directory";
    case ImageError::CannotOpen:
      return "Cannot open file";
    case ImageError::NotRegularFile:
      return "Not a regular file";
    case ImageError::Empty:
      return "File is empty";
    case ImageError::TooSmall:
      return "File is too small to be a module";
    case ImageError::NotModule:
      return "Not a PE/COFF module";
    case ImageError::TooLarge:
      return "File is too large to map";
  }
  return "Unknown error";
}

// ---------------------------------------------------------------------------
// PeImage

ImageError PeImage::Parse(ByteView view) {
  *this = PeImage();
  if (view.size == 0) return ImageError::Empty;
  if (view.size < kDosHeaderSize) return ImageError::TooSmall;
  const std::uint8_t* p = view.data;
  if (p[0] != 'M' || p[1] != 'Z') return ImageError::NotModule;

  const std::uint64_t nt = Le32(p + kLfanewOffset);
  // Signature, file header and the optional header's magic must be there.
  if (nt + 4 + kFileHeaderSize + 2 > view.size) return ImageError::NotModule;
  if (std::memcmp(p + nt, "PE\0\0", 4) != 0) return ImageError::NotModule;

  const std::uint8_t* fileHeader = p + nt + 4;
  const std::uint32_t sections = Le16(fileHeader + 2);
  const std::uint64_t optionalSize = Le16(fileHeader + 16);
  const std::uint64_t optional = nt + 4 + kFileHeaderSize;
  if (optional + optionalSize > view.size) return ImageError::NotModule;
  if (optionalSize < 2) return ImageError::NotModule;

  const std::uint16_t magic = Le16(p + optional);
  std::uint64_t rvaCountOffset;
  if (magic == kMagicPe32) {
    rvaCountOffset = kRvaCountPe32;
  } else if (magic == kMagicPe32Plus) {
    rvaCountOffset = kRvaCountPe32Plus;
  } else {
    return ImageError::NotModule;
  }
  if (optionalSize < rvaCountOffset + 4) return ImageError::NotModule;

  // Only the directories that both the count and the header's size cover.
  std::uint64_t dirCount = Le32(p + optional + rvaCountOffset);
  const std::uint64_t dirRoom = (optionalSize - rvaCountOffset - 4) / kDataDirectorySize;
  if (dirCount > dirRoom) dirCount = dirRoom;

  const std::uint64_t table = optional + optionalSize;
  if (table + sections * kSectionHeaderSize > view.size) return ImageError::NotModule;

  view_ = view;
  pe32plus_ = magic == kMagicPe32Plus;
  sections_.reserve(sections);
  for (std::uint32_t i = 0; i < sections; ++i) {
    const std::uint8_t* h = p + table + i * kSectionHeaderSize;
    Section s{Le32(h + 12), Le32(h + 16), Le32(h + 20)};
    // File data past the end of the file does not exist; the check against
    // the RVA is done by subtraction, so a section near the top of the
    // address space cannot wrap around to cover low addresses.
    if (s.rawPointer >= view.size) {
      s.rawSize = 0;
    } else if (s.rawPointer + s.rawSize > view.size) {
      s.rawSize = static_cast<std::uint32_t>(view.size - s.rawPointer);
    }
    sections_.push_back(s);
  }
  directories_ = optional + rvaCountOffset + 4;
  directoryCount_ = static_cast<std::uint32_t>(dirCount);
  return ImageError::None;
}

ByteView PeImage::SearchSections(std::uint32_t rva, SectionCursor& cursor) const {
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
      cursor.index = i;
      return At(s, rva);
    }
  }
  return {};
}

ByteView PeImage::DirectoryEntryToData(unsigned entry, SectionCursor& cursor) const {
  if (!view_ || entry >= directoryCount_) return {};
  const std::uint32_t rva = Le32(view_.data + directories_ + entry * kDataDirectorySize);
  if (rva == 0) return {};
  return RvaToVa(rva, cursor);
}

// ---------------------------------------------------------------------------
// MappedFile

#ifdef _WIN32

ImageError MappedFile::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
      return ImageError::NoSuchFile;
    }
    if (code == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesA(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return ImageError::NotRegularFile;
      }
    }
    return ImageError::CannotOpen;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return ImageError::NotRegularFile;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return ImageError::CannotOpen;
  }
  if (size.QuadPart == 0) {
    CloseHandle(file);
    return ImageError::Empty;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
    CloseHandle(file);
    return ImageError::TooLarge;
  }
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (mapping == nullptr) return ImageError::CannotOpen;
  void* address = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (address == nullptr) {
    CloseHandle(mapping);
    return ImageError::TooLarge;
  }
  mapping_ = mapping;
  address_ = address;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  return ImageError::None;
}

void MappedFile::Close() {
  if (address_ != nullptr) UnmapViewOfFile(address_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  address_ = nullptr;
  mapping_ = nullptr;
  size_ = 0;
}

#else

ImageError MappedFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? ImageError::NoSuchFile : ImageError::CannotOpen;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return ImageError::CannotOpen;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return ImageError::NotRegularFile;
  }
  if (st.st_size == 0) {
    ::close(fd);
    return ImageError::Empty;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > SIZE_MAX) {
    ::close(fd);
    return ImageError::TooLarge;
  }
  void* address = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (address == MAP_FAILED) {
    return errno == ENOMEM ? ImageError::TooLarge : ImageError::CannotOpen;
  }
  address_ = address;
  size_ = size;
  return ImageError::None;
}

void MappedFile::Close() {
  if (address_ != nullptr) ::munmap(address_, static_cast<size_t>(size_));
  address_ = nullptr;
  size_ = 0;
}

#endif

// ---------------------------------------------------------------------------
// LoadedImage

ImageError LoadedImage::MapAndLoad(const std::string& path) {
  UnMapAndLoad();
  ImageError error = file_.Open(path);
  if (error != ImageError::None) return error;
  error = image_.Parse(file_.View());
  if (error != ImageError::None) UnMapAndLoad();
  return error;
}

void LoadedImage::UnMapAndLoad() {
  image_ = PeImage();
  file_.Close();
}

}  // namespace kestrove::platform
