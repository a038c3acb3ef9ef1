#include "uHelper.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "FaultGuard.h"

namespace kestrove {

using platform::ByteView;
using platform::ImageError;
using platform::PeImage;
using platform::SectionCursor;

// ---------------------------------------------------------------------------
// TNameList

TNameList::~TNameList() { std::free(bytes_); }

TNameList::TNameList(const TNameList& other) : ends_(other.ends_) {
  if (other.size_ != 0) {
    bytes_ = static_cast<char*>(std::malloc(other.size_));
    if (bytes_ == nullptr) throw std::bad_alloc();
    std::memcpy(bytes_, other.bytes_, other.size_);
    size_ = capacity_ = other.size_;
  }
}

TNameList& TNameList::operator=(const TNameList& other) {
  if (this != &other) {
    TNameList copy(other);
    *this = std::move(copy);
  }
  return *this;
}

TNameList::TNameList(TNameList&& other) noexcept
    : bytes_(other.bytes_),
      size_(other.size_),
      capacity_(other.capacity_),
      ends_(std::move(other.ends_)) {
  other.bytes_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.ends_.clear();
}

TNameList& TNameList::operator=(TNameList&& other) noexcept {
  if (this != &other) {
    std::free(bytes_);
    bytes_ = other.bytes_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    ends_ = std::move(other.ends_);
    other.bytes_ = nullptr;
    other.size_ = other.capacity_ = 0;
    other.ends_.clear();
  }
  return *this;
}

void TNameList::Clear() {
  size_ = 0;
  ends_.clear();
}

bool TNameList::Grow(std::size_t needed) {
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (needed > kLimit) return false;
  std::size_t capacity = capacity_ < 4096 ? 4096 : capacity_ + capacity_ / 2;
  if (capacity < needed) capacity = needed;
  if (capacity > kLimit) capacity = kLimit;
  char* bytes = static_cast<char*>(std::realloc(bytes_, capacity));
  if (bytes == nullptr) return false;
  bytes_ = bytes;
  capacity_ = capacity;
  return true;
}

void TNameList::Reserve(std::size_t names, std::size_t bytes) {
  ends_.reserve(names);
  if (bytes > capacity_ && !Grow(bytes)) throw std::bad_alloc();
}

bool TNameList::TryAdd(std::string_view name) {
  const std::size_t needed = size_ + name.size();
  if (needed > capacity_ && !Grow(needed)) return false;
  try {
    ends_.push_back(0);  // room first, so a failure leaves the list as it was
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The name may come straight from a mapped file, and this copy is where a
  // file cut short faults: the list only grows once the copy has finished.
  if (!name.empty()) std::memcpy(bytes_ + size_, name.data(), name.size());
  size_ = needed;
  ends_.back() = static_cast<std::uint32_t>(needed);
  return true;
}

void TNameList::Add(std::string_view name) {
  if (!TryAdd(name)) throw std::bad_alloc();
}

bool operator==(const TNameList& a, const TNameList& b) {
  return a.ends_ == b.ends_ && a.size_ == b.size_ &&
         (a.size_ == 0 || std::memcmp(a.bytes_, b.bytes_, a.size_) == 0);
}

// ---------------------------------------------------------------------------
// Reading

namespace {

constexpr std::uint64_t kNumberOfNamesOffset = 24;
constexpr std::uint64_t kAddressOfNamesOffset = 32;
constexpr std::uint64_t kExportDirectorySize = 40;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Everything one pass over a name table needs; lives outside the guarded
// body so that it survives an abandoned pass.
struct Pass {
  const PeImage* image;
  TNameList* names;
  ReadOutcome outcome = ReadOutcome::Complete;
  bool rangeExceeded = false;
  bool outOfMemory = false;
};

void ReadTable(void* context) {
  Pass& pass = *static_cast<Pass*>(context);
  const PeImage& image = *pass.image;
  SectionCursor cursor;

  const ByteView directory = image.DirectoryEntryToData(platform::kDirectoryEntryExport, cursor);
  if (!directory) {
    pass.outcome = ReadOutcome::NoExportDirectory;
    return;
  }
  if (directory.size < kExportDirectorySize) {
    pass.outcome = ReadOutcome::TableDamaged;
    return;
  }
  const std::uint32_t count = Le32(directory.data + kNumberOfNamesOffset);
  if (count == 0) return;
  const ByteView table = image.RvaToVa(Le32(directory.data + kAddressOfNamesOffset), cursor);
  const std::uint64_t entries = table.size / 4;  // entries wholly in the view

  std::uint64_t expected = count;
  if (expected > entries) expected = entries;
  if (expected > kMaxNameIndex + 1ull) expected = kMaxNameIndex + 1ull;
  try {
    pass.names->Reserve(static_cast<std::size_t>(expected), 0);
  } catch (const std::bad_alloc&) {
    pass.outOfMemory = true;
    return;
  }

  for (std::uint64_t i = 0; i < count; ++i) {
    if (i > kMaxNameIndex) {
      pass.rangeExceeded = true;
      return;
    }
    if (i >= entries) {
      pass.outcome = ReadOutcome::TableDamaged;
      return;
    }
    const ByteView name = image.RvaToVa(Le32(table.data + 4 * i), cursor);
    std::string_view text;
    if (name) {
      const void* end = std::memchr(name.data, 0, static_cast<std::size_t>(name.size));
      if (end == nullptr) {
        pass.outcome = ReadOutcome::NameUnterminated;
        return;
      }
      text = {reinterpret_cast<const char*>(name.data),
              static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - name.data)};
    }
    if (!pass.names->TryAdd(text)) {
      pass.outOfMemory = true;
      return;
    }
    // Keeps the list's stores ahead of the next touch of the mapped file.
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
}

}  // namespace

std::string DescribeReport(const ReadReport& report) {
  switch (report.outcome) {
    case ReadOutcome::Complete:
    case ReadOutcome::NoExportDirectory:
      return {};
    case ReadOutcome::NotModule:
      return platform::DescribeImageError(report.imageError);
    case ReadOutcome::TableDamaged:
      return "Name table runs past the end of the file after " + std::to_string(report.namesRead) +
             " names";
    case ReadOutcome::NameUnterminated:
      return "Name " + std::to_string(report.namesRead + 1) +
             " runs to the end of the file without a terminating NUL";
    case ReadOutcome::FileShrank:
      return "File was cut short while it was read, after " + std::to_string(report.namesRead) +
             " names";
  }
  return {};
}

ReadReport ReadExportNamesFromImage(const PeImage& image, TNameList& Names) {
  Names.Clear();
  Pass pass{&image, &Names};
  const bool finished = platform::RunGuarded(image.View(), ReadTable, &pass);
  ReadReport report;
  report.outcome = finished ? pass.outcome : ReadOutcome::FileShrank;
  report.namesRead = Names.Count();
  if (pass.outOfMemory) throw std::bad_alloc();
  if (pass.rangeExceeded) throw ERangeError();
  return report;
}

ReadReport ReadExportNamesEx(const std::string& FileName, TNameList& Names) {
  Names.Clear();
  platform::LoadedImage loaded;  // releases the mapping on every way out
  const ImageError error = loaded.MapAndLoad(FileName);
  if (error != ImageError::None) {
    ReadReport report;
    report.outcome = ReadOutcome::NotModule;
    report.imageError = error;
    return report;
  }
  return ReadExportNamesFromImage(loaded.FileHeader(), Names);
}

void ReadExportNames(const std::string& FileName, TNameList& Names, bool CompleteReading) {
  // A complete reading lists exactly the same names.
  static_cast<void>(CompleteReading);
  ReadExportNamesEx(FileName, Names);
}

}  // namespace kestrove
