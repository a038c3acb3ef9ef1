// kestrove-names: prints the names a PE/COFF module exports, in name-table
// order, one a line, bytes as stored.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImageHelp.h"
#include "StdOutput.h"
#include "uHelper.h"

#ifndef KESTROVE_VERSION
#define KESTROVE_VERSION "0"
#endif

namespace {

const char kProgram[] = "kestrove-names";

void Usage(std::FILE* to) {
  std::fprintf(to,
               "Usage: %s [OPTION]... FILE...\n"
               "Print the names each Windows PE/COFF module FILE exports (DLL, EXE, OCX,\n"
               "BPL...), in the order of its export name table, one name a line.\n"
               "\n"
               "With more than one FILE, each file's names follow an empty line and a\n"
               "line \"FILE:\".\n"
               "\n"
               "  -h, --help     show this help and exit\n"
               "  -V, --version  show the version and exit\n"
               "  --             treat every later argument as a FILE\n"
               "\n"
               "Exit status: 0 when every FILE was read in full, 1 when any could not be\n"
               "read or had a damaged name table, 2 for a usage error.\n",
               kProgram);
}

// Gathers output in blocks of a megabyte and writes each block at once.
class Output final : public kestrove::INameSink {
 public:
  static constexpr std::size_t kBlock = 32;

  Output() : buffer_(1 << 20) {}

  bool Name(std::string_view name, std::size_t readable) override {
    // Most names are short: copy a whole block of 32 bytes when both sides
    // have the room, and let the next name overwrite what went past this one.
    if (name.size() < kBlock && readable >= kBlock && used_ + kBlock <= buffer_.size()) {
      std::memcpy(buffer_.data() + used_, name.data(), kBlock);
      used_ += name.size();
      buffer_[used_++] = '\n';
      return true;
    }
    return Append(name.data(), name.size()) && Append("\n", 1);
  }

  bool Append(const char* data, std::size_t size) {
    if (used_ + size > buffer_.size()) {
      if (!Flush()) return false;
      if (size > buffer_.size()) return kestrove::platform::WriteStdout(data, size) || Failed();
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return true;
  }

  bool Flush() {
    const std::size_t used = used_;
    used_ = 0;
    return kestrove::platform::WriteStdout(buffer_.data(), used) || Failed();
  }

  bool ok() const { return ok_; }

 private:
  bool Failed() {
    ok_ = false;
    return false;
  }

  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

void Complain(Output& out, const std::string& file, const std::string& reason) {
  out.Flush();  // keeps standard output and error in order on a terminal
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), reason.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "-h" || arg == "--help")) {
      Usage(stdout);
      return 0;
    } else if (options && (arg == "-V" || arg == "--version")) {
      std::printf("%s %s\n", kProgram, KESTROVE_VERSION);
      return 0;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "%s: unknown option '%s'\nTry '%s --help'.\n", kProgram, arg.c_str(),
                   kProgram);
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "%s: no FILE given\nTry '%s --help'.\n", kProgram, kProgram);
    return 2;
  }

  kestrove::platform::PrepareStdoutForBulk();
  Output out;
  int status = 0;
  for (const std::string& file : files) {
    kestrove::platform::LoadedImage loaded;
    const kestrove::platform::ImageError error = loaded.MapAndLoad(file);
    if (error != kestrove::platform::ImageError::None) {
      Complain(out, file, kestrove::platform::DescribeImageError(error));
      status = 1;
      continue;
    }
    if (files.size() > 1) {
      const std::string header = "\n" + file + ":\n";
      out.Append(header.data(), header.size());
    }
    const kestrove::StreamReport result = kestrove::StreamExportNames(loaded.FileHeader(), out);
    loaded.UnMapAndLoad();
    if (!out.ok()) break;
    const std::string failure = result.rangeExceeded ? std::string("Range check error")
                                                     : kestrove::DescribeReport(result.report);
    if (!failure.empty()) {
      Complain(out, file, failure);
      status = 1;
    }
  }
  if (!out.ok() || !out.Flush()) {
    std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(errno));
    return 1;
  }
  return status;
}
