#include "StdOutput.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kestrove::platform {

#ifdef _WIN32

bool WriteStdout(const void* data, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(out, p, chunk, &written, nullptr)) return false;
    p += written;
    size -= written;
  }
  return true;
}

void PrepareStdoutForBulk() {}

#else

bool WriteStdout(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void PrepareStdoutForBulk() {
#ifdef F_SETPIPE_SZ
  struct stat st;
  if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);  // the unprivileged maximum
  }
#endif
}

#endif

}  // namespace kestrove::platform
