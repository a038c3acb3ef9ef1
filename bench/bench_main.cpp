// Speed of the reader, the window's list, Save and the settings file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <cstdio>
#include <filesystem>

#include "BenchModules.h"
#include "FakeDialogs.h"
#include "Profile.h"
#include "uApplication.h"
#include "uHelper.h"
#include "uMain.h"

namespace {

void ReadInto(benchmark::State& state, const std::string& path, bool reuseList) {
  kestrove::TNameList reused;
  for (auto _ : state) {
    if (reuseList) {
      kestrove::ReadExportNames(path, reused, false);
      benchmark::DoNotOptimize(reused.Count());
    } else {
      kestrove::TNameList names;
      kestrove::ReadExportNames(path, names, false);
      benchmark::DoNotOptimize(names.Count());
    }
  }
  kestrove::ReadExportNames(path, reused, false);
  state.counters["names"] = static_cast<double>(reused.Count());
}

void BM_ReadExportNames_Million(benchmark::State& state) {
  ReadInto(state, kestrove::bench::MillionNameModule(), state.range(0) != 0);
}
BENCHMARK(BM_ReadExportNames_Million)
    ->ArgName("reused_list")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_ReadExportNames_LargestRuntimeDll(benchmark::State& state) {
  const std::string path = kestrove::bench::LargestRuntimeDll();
  if (path.empty()) {
    state.SkipWithError("no mingw-w64 runtime DLLs installed");
    return;
  }
  state.SetLabel(std::filesystem::path(path).filename().string());
  ReadInto(state, path, state.range(0) != 0);
}
BENCHMARK(BM_ReadExportNames_LargestRuntimeDll)
    ->ArgName("reused_list")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

void BM_CopyNamesIntoTheListModel(benchmark::State& state) {
  kestrove::TNameList names;
  kestrove::ReadExportNames(kestrove::bench::MillionNameModule(), names, false);
  TNameModel model;
  for (auto _ : state) {
    model.Assign(names);
    benchmark::DoNotOptimize(model.rowCount());
  }
}
BENCHMARK(BM_CopyNamesIntoTheListModel)->Unit(benchmark::kMillisecond);

// From the open dialog's answer to the list's first frame, through the
// window's own Open command; then the same frame scrolled to the end.
void BM_WindowOpenToFirstFrame(benchmark::State& state) {
  FakeDialogs dialogs;
  dialogs.openAnswer = QString::fromStdString(kestrove::bench::MillionNameModule());
  SetDialogs(&dialogs);
  TKestrove window;
  window.show();
  QApplication::processEvents();
  const bool atEnd = state.range(0) != 0;
  for (auto _ : state) {
    window.tbOpen->click();
    if (atEnd) window.ListView->scrollToBottom();
    QImage frame = window.ListView->viewport()->grab().toImage();
    benchmark::DoNotOptimize(frame.bits());
  }
  state.counters["rows"] = window.ListView->model()->rowCount();
  state.counters["errors"] = static_cast<double>(dialogs.boxes.size());
  SetDialogs(nullptr);
}
BENCHMARK(BM_WindowOpenToFirstFrame)
    ->ArgName("scrolled_to_end")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// Painting alone, at the start of the list and at its end.
void BM_WindowPaintFrame(benchmark::State& state) {
  FakeDialogs dialogs;
  dialogs.openAnswer = QString::fromStdString(kestrove::bench::MillionNameModule());
  SetDialogs(&dialogs);
  TKestrove window;
  window.show();
  window.tbOpen->click();
  if (state.range(0) != 0) window.ListView->scrollToBottom();
  for (auto _ : state) {
    QImage frame = window.ListView->viewport()->grab().toImage();
    benchmark::DoNotOptimize(frame.bits());
  }
  SetDialogs(nullptr);
}
BENCHMARK(BM_WindowPaintFrame)
    ->ArgName("scrolled_to_end")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

void BM_SaveMillionNames(benchmark::State& state) {
  kestrove::TNameList names;
  kestrove::ReadExportNames(kestrove::bench::MillionNameModule(), names, false);
  const QString out = QStringLiteral(KESTROVE_BENCH_DIR "/saved-names.txt");
  for (auto _ : state) SaveNameList(out, names);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(names.ByteCount() + 2 * names.Count()));
  QFile::remove(out);
}
BENCHMARK(BM_SaveMillionNames)->Unit(benchmark::kMillisecond);

void BM_SettingsFileReadFont(benchmark::State& state) {
  const std::string path = KESTROVE_BENCH_DIR "/bench.ini";
  kestrove::platform::ProfileFile ini(path, "bench.ini");
  ini.WriteString("Settings", "Font.Name", "Tahoma");
  ini.WriteInteger("Settings", "Font.Size", 10);
  ini.WriteString("Settings", "Font.Style", "fsBold,fsItalic");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ini.ReadString("Settings", "Font.Name", "Tahoma"));
    benchmark::DoNotOptimize(ini.ReadInteger("Settings", "Font.Size", 8));
    benchmark::DoNotOptimize(ini.ReadString("Settings", "Font.Style", ""));
  }
}
BENCHMARK(BM_SettingsFileReadFont)->Unit(benchmark::kMicrosecond);

void BM_SettingsFileWriteFont(benchmark::State& state) {
  const std::string path = KESTROVE_BENCH_DIR "/bench.ini";
  kestrove::platform::ProfileFile ini(path, "bench.ini");
  for (auto _ : state) {
    ini.WriteString("Settings", "Font.Name", "Tahoma");
    ini.WriteInteger("Settings", "Font.Size", 10);
    ini.WriteString("Settings", "Font.Style", "fsBold,fsItalic");
  }
}
BENCHMARK(BM_SettingsFileWriteFont)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
