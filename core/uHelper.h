// The export name reader: turns a module file into the ordered list of the
// names in its export name table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ImageHelp.h"
#include "Memory.h"

namespace kestrove {

// An unsorted list of 8-bit strings, duplicates allowed. All names live in
// one byte buffer with an end offset per name, so a million names cost
// little more than their bytes. Copies are values of their own but share
// the buffer until one of them changes (clearing drops the share, anything
// else copies the bytes first), so handing the list to a view costs nothing.
class TNameList {
 public:
  TNameList() = default;

  std::size_t Count() const { return s_ ? s_->ends.size() : 0; }
  bool Empty() const { return Count() == 0; }
  std::string_view operator[](std::size_t index) const {
    const Storage& s = *s_;
    const std::uint32_t begin = index == 0 ? 0 : s.ends[index - 1];
    return {s.bytes + begin, s.ends[index] - begin};
  }

  void Clear();
  // Appends a copy of `name`; false (and nothing added) when the list would
  // pass its 4 GiB of name bytes or memory runs out. `readable` says how many
  // bytes may be read at name.data(), which lets short names be copied in
  // whole blocks.
  bool TryAdd(std::string_view name, std::size_t readable = 0);
  void Add(std::string_view name);  // throws std::bad_alloc where TryAdd fails
  void Reserve(std::size_t names, std::size_t bytes);

  // How many bytes the names hold together, without separators.
  std::size_t ByteCount() const { return s_ ? s_->size : 0; }
  // Whether this list and `other` share their bytes.
  bool SharesWith(const TNameList& other) const { return s_ && s_ == other.s_; }

  friend bool operator==(const TNameList& a, const TNameList& b);

 private:
  using Ends = std::vector<std::uint32_t, platform::BlockAllocator<std::uint32_t>>;
  struct Storage {
    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage();
    bool Grow(std::size_t needed);

    char* bytes = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    Ends ends;
  };

  // The buffer, owned by this list alone; false when memory runs out.
  bool Own();

  std::shared_ptr<Storage> s_;
};

// Raised after the 1,048,576th name of a name table that holds more.
class ERangeError : public std::runtime_error {
 public:
  ERangeError() : std::runtime_error("Range check error") {}
};

// The most names one reading takes from a name table.
inline constexpr std::uint32_t kMaxNameIndex = 0xFFFFF;

// How a reading ended.
enum class ReadOutcome {
  Complete,           // every name of the table was read (possibly none)
  NotModule,          // the file could not be mapped as a module
  NoExportDirectory,  // the module exports nothing by name or ordinal
  TableDamaged,       // a name pointer table entry lies outside the file
  NameUnterminated,   // a name runs to the end of the file without a NUL
  FileShrank,         // the file was cut short while it was being read
};

struct ReadReport {
  ReadOutcome outcome = ReadOutcome::Complete;
  platform::ImageError imageError = platform::ImageError::None;
  std::size_t namesRead = 0;
};

// One sentence on why a reading gave fewer names than the table promised,
// or an empty string for Complete and NoExportDirectory.
std::string DescribeReport(const ReadReport& report);

// Clears `Names`, then appends every name of the module's export name table
// in table order: duplicates kept, bytes unchanged, and the empty string for
// a name whose address lies in no section. A file that is not a usable
// module leaves the list empty. A damaged table ends the reading with the
// names read so far. CompleteReading is accepted and changes nothing.
// Throws ERangeError after the 1,048,576th name, with those names kept.
void ReadExportNames(const std::string& FileName, TNameList& Names, bool CompleteReading);

// The same reading, telling how it ended.
ReadReport ReadExportNamesEx(const std::string& FileName, TNameList& Names);

// The same reading over a module already in memory.
ReadReport ReadExportNamesFromImage(const platform::PeImage& image, TNameList& Names);

// Receives the names of one reading as they are found. A name's bytes may
// lie in the mapped file and are valid only during the call. Returning false
// stops the reading (the sink knows why); the sink must not throw.
class INameSink {
 public:
  // Called once before the first name with how many names the table can
  // hold at most; returning false stops the reading.
  virtual bool Begin(std::size_t expectedNames) {
    static_cast<void>(expectedNames);
    return true;
  }
  // `readable` bytes may be read from name.data(): at least name.size(),
  // and more when the mapped file goes on, which lets a sink copy short
  // names in whole blocks.
  virtual bool Name(std::string_view name, std::size_t readable) = 0;

 protected:
  ~INameSink() = default;
};

// Reads the export name table into `sink`, without keeping the names. The
// range error is reported as `rangeExceeded` instead of being raised.
struct StreamReport {
  ReadReport report;
  bool rangeExceeded = false;
  bool stoppedBySink = false;
};
StreamReport StreamExportNames(const platform::PeImage& image, INameSink& sink);

}  // namespace kestrove
