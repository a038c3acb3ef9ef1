#include "uHelper.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FaultGuard.h"
#include "Memory.h"

namespace kestrove {

using platform::ByteView;
using platform::ImageError;
using platform::PeImage;
using platform::SectionCursor;

// ---------------------------------------------------------------------------
// TNameList

TNameList::Storage::~Storage() { platform::FreeBlock(bytes, capacity); }

bool TNameList::Storage::Grow(std::size_t needed) {
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (needed > kLimit) return false;
  std::size_t next = capacity < 4096 ? 4096 : capacity + capacity / 2;
  if (next < needed) next = needed;
  if (next > kLimit) next = kLimit;
  char* grown = static_cast<char*>(platform::ResizeBlock(bytes, capacity, next));
  if (grown == nullptr) return false;
  bytes = grown;
  capacity = next;
  return true;
}

bool TNameList::Own() {
  if (s_ && s_.use_count() == 1) return true;
  try {
    auto own = std::make_shared<Storage>();
    if (s_) {
      if (s_->size != 0) {
        own->bytes = static_cast<char*>(platform::AllocateBlock(s_->size));
        if (own->bytes == nullptr) return false;
        own->capacity = s_->size;
        std::memcpy(own->bytes, s_->bytes, s_->size);
        own->size = s_->size;
      }
      own->ends.assign(s_->ends.begin(), s_->ends.end());
    }
    s_ = std::move(own);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void TNameList::Clear() {
  if (!s_) return;
  if (s_.use_count() > 1) {
    s_.reset();  // the other copies keep the names
    return;
  }
  s_->size = 0;
  s_->ends.clear();
}

void TNameList::Reserve(std::size_t names, std::size_t bytes) {
  if (!Own()) throw std::bad_alloc();
  s_->ends.reserve(names);
  if (bytes > s_->capacity && !s_->Grow(bytes)) throw std::bad_alloc();
}

bool TNameList::TryAdd(std::string_view name, std::size_t readable) {
  constexpr std::size_t kBlock = 16;
  if (!Own()) return false;
  Storage& s = *s_;
  const std::size_t needed = s.size + name.size();
  // Room for a whole last block, so short names can be copied in blocks.
  if (needed + kBlock > s.capacity && !s.Grow(needed + kBlock)) return false;
  // The name may come straight from a mapped file, and this copy is where a
  // file cut short faults. So it goes first, into room past the end of the
  // list, and the list grows only once it has finished.
  const std::size_t blocks = (name.size() + kBlock - 1) / kBlock;
  char* to = s.bytes + s.size;
  if (blocks <= 4 && readable >= blocks * kBlock) {
    // Whole blocks; what goes past the name is overwritten by the next one.
    for (std::size_t b = 0; b < blocks; ++b) {
      std::memcpy(to + b * kBlock, name.data() + b * kBlock, kBlock);
    }
  } else if (!name.empty()) {
    std::memcpy(to, name.data(), name.size());
  }
  try {
    s.ends.push_back(static_cast<std::uint32_t>(needed));
  } catch (const std::bad_alloc&) {
    return false;  // the list is as it was
  }
  s.size = needed;
  return true;
}

void TNameList::Add(std::string_view name) {
  if (!TryAdd(name)) throw std::bad_alloc();
}

bool operator==(const TNameList& a, const TNameList& b) {
  if (a.Count() != b.Count() || a.ByteCount() != b.ByteCount()) return false;
  if (a.Empty() || a.s_ == b.s_) return true;
  return a.s_->ends == b.s_->ends && std::memcmp(a.s_->bytes, b.s_->bytes, a.s_->size) == 0;
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
// there is none. Names are short, so sixteen (or eight) bytes are tested at
// a time.
std::uint64_t FindNul(const std::uint8_t* p, std::uint64_t size) {
  std::uint64_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= size; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero));
    if (mask != 0)
      return i + static_cast<std::uint64_t>(std::countr_zero(static_cast<unsigned>(mask)));
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
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
  const std::uint64_t expected = std::min<std::uint64_t>({count, entries, kMaxNameIndex + 1ull});
  if (!pass.sink->Begin(static_cast<std::size_t>(expected))) {
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
      expected_ = expectedNames;
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  bool Name(std::string_view name, std::size_t readable) override {
    if (!names_.TryAdd(name, readable)) return false;
    // Once a few names are in, make room for all of them at once, from the
    // length of those so far, so the list grows once and not step by step.
    if (names_.Count() == kSample && expected_ > 2 * kSample) {
      const std::size_t perName = names_.ByteCount() / kSample + 1;
      const std::size_t estimate = perName * expected_ + expected_ / 8;
      if (estimate > names_.ByteCount() && estimate < (std::size_t{1} << 32)) {
        try {
          names_.Reserve(0, estimate);
        } catch (const std::bad_alloc&) {
          // Growing name by name still works.
        }
      }
    }
    return true;
  }

 private:
  static constexpr std::size_t kSample = 64;
  TNameList& names_;
  std::size_t expected_ = 0;
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
