// Replaces a file as a whole or not at all: the new content goes to a
// temporary file beside the target, which is renamed over the target only
// once everything is written. A failure leaves the old file as it was and no
// partial file behind.
#pragma once

#include <cstddef>
#include <string>

namespace kestrove::platform {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // discards an uncommitted temporary file
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Prepares to replace `path` (a link is followed to the file it names).
  // On failure, Error() is the system's description of the cause.
  bool Open(const std::string& path);
  bool Write(const void* data, std::size_t size);
  // Flushes, closes and renames the temporary file over the target.
  bool Commit();

  const std::string& Error() const { return error_; }

  // Tests only: the next writes fail once `bytes` more bytes were accepted,
  // as on a full disk. Negative: no failure.
  static void FailWritesAfterForTesting(long long bytes);

 private:
  void Discard();
  bool Fail(int code);

  std::string target_;
  std::string temporary_;
  std::string error_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace kestrove::platform
