#include "uHelper.h"

#include <algorithm>
#include <atomic>
#include <bit>
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

std::uint64_t ByteSwap(std::uint64_t v) {
  std::uint64_t r = 0;
  for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
  return r;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The offset of the first NUL in the `size` bytes at `p`, or `size` when
// there is none. Names are short, so eight bytes are tested at a time.
std::uint64_t FindNul(const std::uint8_t* p, std::uint64_t size) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  std::uint64_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if constexpr (std::endian::native == std::endian::big) word = ByteSwap(word);
    const std::uint64_t zeros = (word - kOnes) & ~word & kHighs;
    if (zeros != 0) return i + static_cast<std::uint64_t>(std::countr_zero(zeros) >> 3);
  }
  while (i < size && p[i] != 0) ++i;
  return i;
}

// Everything one pass over a name table needs; lives outside the guarded
// body so that it survives an abandoned pass.
struct Pass {
  const PeImage* image;
  INameSink* sink;
  ReadOutcome outcome = ReadOutcome::Complete;
  std::size_t names = 0;
  std::uint64_t expected = 0;  // how many names the table can hold
  bool rangeExceeded = false;
  bool stoppedBySink = false;
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
  pass.expected = std::min<std::uint64_t>({count, entries, kMaxNameIndex + 1ull});
  if (!pass.sink->Begin(static_cast<std::size_t>(pass.expected))) {
    pass.stoppedBySink = true;
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
      const std::uint64_t length = FindNul(name.data, name.size);
      if (length == name.size) {
        pass.outcome = ReadOutcome::NameUnterminated;
        return;
      }
      text = {reinterpret_cast<const char*>(name.data), static_cast<std::size_t>(length)};
    }
    const auto readable = static_cast<std::size_t>(std::min<std::uint64_t>(name.size, SIZE_MAX));
    if (!pass.sink->Name(text, readable)) {
      pass.stoppedBySink = true;
      return;
    }
    ++pass.names;
    // Keeps the sink's stores ahead of the next touch of the mapped file.
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
}

// Collects the names into a list, with room for the whole table made once.
class ListSink final : public INameSink {
 public:
  explicit ListSink(TNameList& names) : names_(names) {}
  bool Begin(std::size_t expectedNames) override {
    try {
      names_.Reserve(expectedNames, 0);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  bool Name(std::string_view name, std::size_t) override { return names_.TryAdd(name); }

 private:
  TNameList& names_;
};

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

StreamReport StreamExportNames(const PeImage& image, INameSink& sink) {
  Pass pass{&image, &sink};
  const bool finished = platform::RunGuarded(image.View(), ReadTable, &pass);
  StreamReport result;
  result.report.outcome = finished ? pass.outcome : ReadOutcome::FileShrank;
  result.report.namesRead = pass.names;
  result.rangeExceeded = pass.rangeExceeded;
  result.stoppedBySink = pass.stoppedBySink;
  return result;
}

ReadReport ReadExportNamesFromImage(const PeImage& image, TNameList& Names) {
  Names.Clear();
  ListSink sink(Names);
  const StreamReport result = StreamExportNames(image, sink);
  if (result.stoppedBySink) throw std::bad_alloc();
  if (result.rangeExceeded) throw ERangeError();
  return result.report;
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
