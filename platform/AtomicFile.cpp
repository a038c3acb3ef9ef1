#include "AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrove::platform {

namespace {

std::atomic<long long> gFailAfter{-1};

// Follows links so that the file they name is replaced, not the link.
std::string ResolveTarget(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) return resolved.string();
  }
  return path;
}

std::string TemporaryPattern(const std::string& target) {
  const std::filesystem::path p(target);
  std::string name(".");
  name.append(p.filename().string()).append(".kestrove-XXXXXX");
  return (p.parent_path() / name).string();
}

}  // namespace

void AtomicFile::FailWritesAfterForTesting(long long bytes) { gFailAfter = bytes; }

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(int code) {
  error_ = std::system_category().message(code);
  Discard();
  return false;
}

#ifdef _WIN32

bool AtomicFile::Open(const std::string& path) {
  Discard();
  target_ = ResolveTarget(path);
  const DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  std::string pattern = TemporaryPattern(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = pattern;
    const auto stamp = GetTickCount64() + static_cast<unsigned long long>(attempt) * 7919u;
    for (std::size_t i = candidate.size() - 6, k = 0; i < candidate.size(); ++i, ++k) {
      candidate[i] = "0123456789abcdefghijklmnopqrstuv"[(stamp >> (5 * k)) & 31];
    }
    HANDLE h = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      temporary_ = candidate;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return Fail(static_cast<int>(GetLastError()));
  }
  return Fail(ERROR_FILE_EXISTS);
}

bool AtomicFile::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    long long allowed = gFailAfter.load();
    if (allowed >= 0) {
      if (allowed == 0) return Fail(ERROR_DISK_FULL);
      if (chunk > allowed) chunk = static_cast<DWORD>(allowed);
      gFailAfter = allowed - chunk;
    }
    DWORD written = 0;
    if (!WriteFile(handle_, p, chunk, &written, nullptr)) {
      return Fail(static_cast<int>(GetLastError()));
    }
    p += written;
    size -= written;
  }
  return true;
}

bool AtomicFile::Commit() {
  if (!FlushFileBuffers(handle_)) return Fail(static_cast<int>(GetLastError()));
  CloseHandle(handle_);
  handle_ = nullptr;
  if (!MoveFileExA(temporary_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(static_cast<int>(GetLastError()));
  }
  temporary_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
  if (!temporary_.empty()) DeleteFileA(temporary_.c_str());
  temporary_.clear();
}

#else

bool AtomicFile::Open(const std::string& path) {
  Discard();
  target_ = ResolveTarget(path);
  struct stat st;
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return Fail(EISDIR);
  std::string pattern = TemporaryPattern(target_);
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  temporary_ = pattern;
  // The new file gets the old one's permissions, or those a new file gets.
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd_, mode) != 0) return Fail(errno);
  return true;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t chunk = size;
    const long long allowed = gFailAfter.load();
    if (allowed >= 0) {
      if (allowed == 0) return Fail(ENOSPC);
      if (chunk > static_cast<unsigned long long>(allowed))
        chunk = static_cast<std::size_t>(allowed);
      gFailAfter = allowed - static_cast<long long>(chunk);
    }
    const ssize_t n = ::write(fd_, p, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::Commit() {
  if (::fsync(fd_) != 0) return Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(errno);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(errno);
  temporary_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

#endif

}  // namespace kestrove::platform
