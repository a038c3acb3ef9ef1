// kestrove-names: prints the names a PE/COFF module exports, in name-table
// order, one a line, bytes as stored.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

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

bool WriteAll(const std::string& text) {
  if (text.empty()) return true;
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

void Complain(const std::string& file, const std::string& reason) {
  std::fflush(stdout);  // keep stdout and stderr in order on a terminal
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), reason.c_str());
}

// Appends every name and its newline to `out` with one copy per name.
void Format(const kestrove::TNameList& names, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + names.ByteCount() + names.Count());
  char* p = out.data() + start;
  for (std::size_t i = 0; i < names.Count(); ++i) {
    const std::string_view name = names[i];
    std::memcpy(p, name.data(), name.size());
    p += name.size();
    *p++ = '\n';
  }
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

  int status = 0;
  kestrove::TNameList names;
  std::string out;
  for (const std::string& file : files) {
    out.clear();
    std::string failure;
    bool listed = true;
    try {
      const kestrove::ReadReport report = kestrove::ReadExportNamesEx(file, names);
      if (report.outcome == kestrove::ReadOutcome::NotModule) listed = false;
      failure = kestrove::DescribeReport(report);
    } catch (const std::exception& e) {
      failure = e.what();  // the names read so far are still printed
    }
    if (listed) {
      if (files.size() > 1) out += "\n" + file + ":\n";
      Format(names, out);
      if (!WriteAll(out)) {
        Complain("standard output", std::strerror(errno));
        return 1;
      }
    }
    if (!failure.empty()) {
      Complain(file, failure);
      status = 1;
    }
  }
  if (std::fflush(stdout) != 0) {
    Complain("standard output", std::strerror(errno));
    return 1;
  }
  return status;
}
