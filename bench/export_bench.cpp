// Writing a million plants: into a sink that drops the bytes (formatting alone), into a file
// under /tmp, and, for comparison, one plain write of as many bytes into a file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "export/export_writer.h"

namespace plantscatter {
namespace {

constexpr size_t kPlants = 1000000;
constexpr uint32_t kWidth = 16384;
constexpr uint32_t kHeight = 16384;

const std::vector<PlantRecord>& bench_plants() {
  static const std::vector<PlantRecord> plants = [] {
    Random rng(1);
    std::vector<PlantRecord> p(kPlants);
    for (size_t i = 0; i < kPlants; ++i) {
      p[i].x = static_cast<uint32_t>(rng.in_range(0, kWidth - 1));
      p[i].y = static_cast<uint32_t>(rng.in_range(0, kHeight - 1));
      p[i].type_id = static_cast<int>(i % 10) + 1;
    }
    return p;
  }();
  return plants;
}

ExportInput bench_input(int threads, PovVersion version = PovVersion::k38) {
  ExportInput input;
  input.pov_version = version;
  input.map_path = "/tmp/plantscatter_bench/forest.png";
  input.width = kWidth;
  input.height = kHeight;
  input.plants = bench_plants();
  input.format_threads = threads;
  return input;
}

class CountingSink : public ExportSink {
 public:
  bool write(std::string_view bytes, std::string*) override {
    benchmark::DoNotOptimize(bytes.data());
    size += bytes.size();
    return true;
  }
  size_t size = 0;
};

std::filesystem::path bench_folder() {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "plantscatter_bench";
  std::filesystem::create_directories(folder);
  return folder;
}

// The export's size with these plants and seed 5, the seed every run below uses.
size_t export_size() {
  static const size_t size = [] {
    Random rng(5);
    CountingSink sink;
    std::string error;
    write_export(bench_input(1), rng, sink, &error);
    return sink.size;
  }();
  return size;
}

// Arguments: the formatting threads, and the form (38 or 37; the 3.7 form has longer array
// names but the same formatting).
void BM_ExportFormatOnly(benchmark::State& state) {
  const ExportInput input = bench_input(static_cast<int>(state.range(0)),
                                        state.range(1) == 37 ? PovVersion::k37 : PovVersion::k38);
  size_t bytes = 0;
  for (auto _ : state) {
    Random rng(5);
    CountingSink sink;
    std::string error;
    if (!write_export(input, rng, sink, &error)) state.SkipWithError(error.c_str());
    bytes += sink.size;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ExportFormatOnly)
    ->ArgsProduct({{1, 2}, {38, 37}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Flushes the written file to disk outside the timed part, so that every run starts with no
// dirty pages and the kernel's write-back throttling does not depend on the runs before.
void settle(benchmark::State& state) {
  state.PauseTiming();
  ::sync();
  state.ResumeTiming();
}

void BM_ExportToFile(benchmark::State& state) {
  const ExportInput input = bench_input(static_cast<int>(state.range(0)));
  const std::filesystem::path path = bench_folder() / "forest_export.inc";
  for (auto _ : state) {
    Random rng(5);
    std::string error;
    if (!write_export_file(input, rng, path, &error)) state.SkipWithError(error.c_str());
    settle(state);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * export_size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ExportToFile)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the same number of bytes, already made, written into a fresh file that then
// replaces the old one, as the export does; in one write() (argument 0) or in pieces of the
// given size.
void BM_PlainWriteOfTheSameSize(benchmark::State& state) {
  const std::string bytes(export_size(), 'x');
  const size_t piece = state.range(0) > 0 ? static_cast<size_t>(state.range(0)) : bytes.size();
  const std::filesystem::path folder = bench_folder();
  const std::string temporary = (folder / ".plain.tmp").string();
  const std::string path = (folder / "plain.inc").string();
  for (auto _ : state) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    for (size_t at = 0; ok && at < bytes.size(); at += piece) {
      const size_t size = std::min(piece, bytes.size() - at);
      ok = ::write(fd, bytes.data() + at, size) == static_cast<ssize_t>(size);
    }
    if (!ok || ::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
      state.SkipWithError("plain write failed");
    }
    settle(state);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_PlainWriteOfTheSameSize)
    ->Arg(0)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace plantscatter
