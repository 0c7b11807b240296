// In-process benchmarks of the registry update over the registries that
// bench/gen_registry.py writes (typical.xml, 1mb.xml, 10mb.xml,
// 100mb.xml; the ones present are used).
//
//   update_bench [--data_dir=DIR] [benchmark flags]
//
// DIR defaults to $MODREG_BENCH_DATA, then build/bench-data.
//
// BM_Update/<size>   read, fold, scan, parse, walk, print into a counting
//                    writer: the whole update but the file write. For
//                    tracking regressions.
// BM_Stages/<size>/wall, BM_Stages/<size>/cpu
//                    the same pass with the file write, stage by stage;
//                    each counter is the seconds per pass, of the wall
//                    clock or of the thread's CPU clock (which a busy
//                    machine disturbs less; waits for the disk are not in
//                    it):
//                      read   the file into memory
//                      fold   CR LF to LF, Ctrl-Z
//                      scan   the pre-pass of ScanRegistryText
//                      parse  the XML library's parse
//                      walk   removal of stale entries, new entries
//                      print  the printer into a discarding writer
//                      write  creating the new file and the write calls
//                             (the pass prints a second time, into the
//                             file; only its writes are timed)
//                      fsync  flushing the new file to the disk
//                      rename close, rename over the registry, folder sync
// BM_UpdateFile/<size>  the transaction on a fresh copy per pass (the
//                    copy is not timed): the update as the tool runs it,
//                    temporary file, flush and rename included.
//
// Every benchmark reports heap_x: the peak of live heap bytes during a
// pass over the file's size (the process's RSS adds its code and stack).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "heap_count.h"
#include "platform/files.h"
#include "registry/printer.h"
#include "registry/scan.h"
#include "registry/textmode.h"
#include "registry/transaction.h"
#include "registry/update.h"
#include "registry_support.h"
#include "run/workplace.h"
#include "run/modules.h"

using namespace registry;
using namespace run;

namespace {

using Clock = std::chrono::steady_clock;
using Node = rapidxml::xml_node<char>;

const char kFolder[] = "HALDEToF";
const int kMask = 5;  // device types 1 and 3, product folder HALDEToF

std::string g_data_dir;

const std::vector<ModuleEntry>& Entries() {
  static const std::vector<ModuleEntry> entries = [] {
    return BuildModuleList(kMask, std::string(kProgramFiles) + "\\" +
                                      ChooseProductFolder(kMask) + "\\");
  }();
  return entries;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Seconds on the wall clock or on this thread's CPU clock.
double Now(bool cpu) {
  struct timespec ts;
  clock_gettime(cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

size_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

[[noreturn]] void Die(const std::string& message) {
  fprintf(stderr, "update_bench: %s\n", message.c_str());
  exit(1);
}

// A writer that keeps nothing and counts the bytes.
struct Counter {
  size_t bytes = 0;
  bool operator()(const char* data, size_t size) {
    benchmark::DoNotOptimize(data);
    bytes += size;
    return true;
  }
};

size_t PrintCounted(const rapidxml::xml_document<char>& doc) {
  Counter counter;
  TextOutput out;
  InitTextOutput(&out, [&](const char* data, size_t size) {
    return counter(data, size);
  });
  PrintDocument(doc, &out);
  FinishTextOutput(&out);
  return counter.bytes;
}

void ReadFolded(const std::string& path, ByteBuffer* text) {
  std::string error;
  if (!platform::ReadWholeFile(path, text, &error)) Die(path + ": " + error);
  if (!PrepareRegistryText(text)) Die(path + ": empty");
}

void SetHeapCounter(benchmark::State& state, size_t peak_bytes,
                    size_t file_size) {
  state.counters["heap_x"] = static_cast<double>(peak_bytes) /
                             static_cast<double>(file_size);
}

// ---- BM_Update: the update without the file write. ----

void BM_Update(benchmark::State& state, std::string path) {
  const size_t file_size = FileSize(path);
  const std::vector<ModuleEntry>& entries = Entries();
  size_t out_bytes = 0;
  size_t peak = 0;
  for (auto _ : state) {
    size_t base = ResetPeak();
    {
      ByteBuffer text;
      ReadFolded(path, &text);
      auto doc = std::make_unique<rapidxml::xml_document<char>>();
      RegistryResult result = EditRegistry(&text, kFolder, entries, doc.get());
      if (result.status != RegistryStatus::kWritten) Die(result.reason);
      out_bytes = PrintCounted(*doc);
    }
    peak = PeakSince(base);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size));
  state.counters["out_MB"] = static_cast<double>(out_bytes) / 1e6;
  SetHeapCounter(state, peak, file_size);
}

// ---- BM_Stages: the same pass with the write, timed stage by stage. ----

// The removal walk and the appending of the update.
void Walk(rapidxml::xml_document<char>* doc,
          const std::vector<ModuleEntry>& entries) {
  Node* modules = doc->first_node("Modules", 7);
  if (!modules) Die("no Modules element");
  RegistryEdit removal;  // the entries appended below are the caller's
  removal.ProductFolder = kFolder;
  ApplyEdit(removal, doc, modules);
  AppendEntries(doc, modules, entries);
}

enum Stage { kRead, kFold, kScan, kParse, kWalk, kPrint, kWrite, kFsync,
             kRename, kStages };
const char* const kStageNames[kStages] = {
    "read", "fold", "scan", "parse", "walk", "print", "write", "fsync",
    "rename"};

void BM_Stages(benchmark::State& state, std::string path, bool cpu) {
  const size_t file_size = FileSize(path);
  const std::vector<ModuleEntry>& entries = Entries();
  const std::string target = g_data_dir + "/update_bench.out";
  const std::string temp = target + ".tmp";
  double total[kStages] = {};
  size_t peak = 0;
  for (auto _ : state) {
    double t[kStages] = {};
    size_t base = ResetPeak();
    {
      std::string error;
      double start = Now(cpu);
      ByteBuffer text;
      if (!platform::ReadWholeFile(path, &text, &error)) Die(error);
      t[kRead] = (Now(cpu) - start);

      start = Now(cpu);
      FoldTextMode(&text);
      text.push_back('\0');
      t[kFold] = (Now(cpu) - start);

      start = Now(cpu);
      if (auto issue = ScanRegistryText(text.data(), text.size() - 1))
        Die(issue->reason);
      t[kScan] = (Now(cpu) - start);

      start = Now(cpu);
      auto doc = std::make_unique<rapidxml::xml_document<char>>();
      doc->parse<0>(text.data());
      t[kParse] = (Now(cpu) - start);

      start = Now(cpu);
      Walk(doc.get(), entries);
      t[kWalk] = (Now(cpu) - start);

      start = Now(cpu);
      PrintCounted(*doc);
      t[kPrint] = (Now(cpu) - start);

      // Printing again, into the file; only the writes are timed.
      platform::OutputFile file;
      start = Now(cpu);
      if (!platform::CreateOutput(temp, &file, &error)) Die(error);
      t[kWrite] = Now(cpu) - start;
      TextOutput out;
      InitTextOutput(&out, [&](const char* data, size_t size) {
        double begin = Now(cpu);
        bool ok = platform::WriteOutput(&file, data, size, &error);
        t[kWrite] += Now(cpu) - begin;
        return ok;
      });
      PrintDocument(*doc, &out);
      if (!FinishTextOutput(&out)) Die(error);

      start = Now(cpu);
      if (!platform::FlushOutput(&file, &error)) Die(error);
      t[kFsync] = (Now(cpu) - start);

      start = Now(cpu);
      if (!platform::CloseOutput(&file, &error) ||
          !platform::ReplaceByRename(temp, target, &error))
        Die(error);
      t[kRename] = (Now(cpu) - start);
    }
    peak = PeakSince(base);
    double sum = 0;
    for (int i = 0; i < kStages; ++i) {
      total[i] += t[i];
      sum += t[i];
    }
    state.SetIterationTime(sum);
  }
  unlink(target.c_str());
  for (int i = 0; i < kStages; ++i)
    state.counters[kStageNames[i]] =
        total[i] / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size));
  SetHeapCounter(state, peak, file_size);
}

// ---- BM_UpdateFile: the registration's transaction on a fresh copy. ----

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  if (!out) Die("cannot copy " + from + " to " + to);
}

// A registration's transaction on |path|, in its folder, its backup
// already there: locked, loaded once, edited, committed.
RegistryResult UpdateFile(const std::string& path, const RegistryEdit& edit) {
  RegistryTransaction t;
  t.site.RegistryPath = path;
  t.site.BackupPath = path + ".old";
  t.site.folder = g_data_dir;
  PassPlan plan;
  plan.edit = edit;
  return RunTransaction(&t, plan).result;
}

void BM_UpdateFile(benchmark::State& state, std::string path) {
  const size_t file_size = FileSize(path);
  RegistryEdit edit;
  edit.ProductFolder = kFolder;
  edit.entries = Entries();
  // A POSIX path goes through the platform layer unchanged.
  const std::string target = g_data_dir + "/update_bench.registry";
  size_t peak = 0;
  CopyFile(path, target + ".old");  // the backup, there already
  for (auto _ : state) {
    CopyFile(path, target);
    size_t base = ResetPeak();
    Clock::time_point start = Clock::now();
    RegistryResult result = UpdateFile(target, edit);
    state.SetIterationTime(Seconds(start));
    peak = PeakSince(base);
    if (result.status != RegistryStatus::kWritten) Die(result.reason);
  }
  unlink(target.c_str());
  unlink((target + ".old").c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size));
  SetHeapCounter(state, peak, file_size);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* env = getenv("MODREG_BENCH_DATA");
  g_data_dir = env && *env ? env : "build/bench-data";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--data_dir=", 0) == 0) {
      g_data_dir = arg.substr(11);
    } else {
      Die("unknown argument " + arg);
    }
  }
  int registered = 0;
  for (const char* size : {"typical", "1mb", "10mb", "100mb"}) {
    std::string path = g_data_dir + "/" + size + ".xml";
    if (FileSize(path) == 0) continue;
    ++registered;
    benchmark::RegisterBenchmark(("BM_Update/" + std::string(size)).c_str(),
                                 BM_Update, path)
        ->Unit(benchmark::kMillisecond);
    for (bool cpu : {false, true})
      benchmark::RegisterBenchmark(
          ("BM_Stages/" + std::string(size) + (cpu ? "/cpu" : "/wall")).c_str(),
          BM_Stages, path, cpu)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_UpdateFile/" + std::string(size)).c_str(),
                                 BM_UpdateFile, path)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  if (!registered)
    Die("no registry in " + g_data_dir +
        "; run bench/gen_registry.py " + g_data_dir);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
