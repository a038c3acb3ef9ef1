// Writes the reader fuzzer's seed corpus into a folder: small modules of
// every shape the tests build, damaged ones included.
#include <cstdio>
#include <string>
#include <vector>

#include "PeWriter.h"

using kestrove::testing::BuildPe;
using kestrove::testing::PeModule;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<PeModule> modules;
  PeModule m;
  m.names = {"Alpha", "Beta", "Gamma"};
  modules.push_back(m);
  m.pe32plus = true;
  modules.push_back(m);
  m.names = {"z", "a", "z", "caf\xE9", ""};
  modules.push_back(m);
  m.nameRva = {{1, 0x10}, {2, 0xFFFFFFF0}};
  modules.push_back(m);
  PeModule none;
  none.exportDirectory = false;
  none.names = {"x"};
  modules.push_back(none);
  PeModule ordinals;
  modules.push_back(ordinals);
  PeModule past;
  past.names = {"One", "Two"};
  past.numberOfNames = 0xFFFFFFFF;
  modules.push_back(past);
  PeModule open;
  open.names = {"One", "Tw"};
  open.namesLast = true;
  open.terminateLast = false;
  modules.push_back(open);
  PeModule nowhere;
  nowhere.names = {"One"};
  nowhere.addressOfNames = 0xFFFFFFFC;
  modules.push_back(nowhere);
  PeModule shared;
  shared.names = {"S"};
  shared.sharedNameCount = 64;
  modules.push_back(shared);

  int index = 0;
  for (const PeModule& module : modules) {
    auto pe = BuildPe(module);
    kestrove::testing::WriteBytes(folder + "/seed-" + std::to_string(index++), pe.bytes);
    pe.bytes.resize(pe.bytes.size() * 2 / 3);  // cut short
    kestrove::testing::WriteBytes(folder + "/seed-" + std::to_string(index++), pe.bytes);
  }
  return 0;
}
