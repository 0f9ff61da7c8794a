#include "scatter/scatter.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace plantscatter {

namespace {

// Hands decoded rows from the decoding thread to the sampling thread in large batches, with
// a fixed number of batches in flight so memory stays bounded.
class RowPipe final : public PixelSink {
 public:
  explicit RowPipe(PlantSampler* sampler) : sampler_(sampler) {
    for (int i = 0; i < kBatches; ++i) free_.push_back(std::make_unique<Batch>());
    filling_ = take_free();
  }

  void begin(uint32_t width, uint32_t height, int channels) override {
    // The sampling thread touches the sampler only after taking a batch from the queue,
    // which orders this call before all of its work.
    sampler_->begin(width, height, channels);
  }

  void pixels(const PixelRun& run) override {
    const size_t bytes = static_cast<size_t>(run.count) * static_cast<size_t>(run.channels);
    if (!filling_->runs.empty() && filling_->bytes.size() + bytes > kBatchBytes) flush();
    PixelRun copy = run;
    copy.pixels = nullptr;
    filling_->runs.push_back({copy, filling_->bytes.size()});
    filling_->bytes.insert(filling_->bytes.end(), run.pixels, run.pixels + bytes);
  }

  // Called by the decoding thread once decoding has ended, successfully or not.
  void close() {
    if (!filling_->runs.empty()) flush();
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  // The sampling thread's loop: samples every batch until the pipe is closed and empty.
  void drain() {
    for (;;) {
      std::unique_ptr<Batch> batch;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty() || closed_; });
        if (full_.empty()) return;
        batch = std::move(full_.front());
        full_.pop_front();
      }
      for (const auto& [run, offset] : batch->runs) {
        PixelRun r = run;
        r.pixels = batch->bytes.data() + offset;
        sampler_->pixels(r);
      }
      batch->runs.clear();
      batch->bytes.clear();
      std::lock_guard lock(mutex_);
      free_.push_back(std::move(batch));
      changed_.notify_all();
    }
  }

 private:
  static constexpr int kBatches = 4;
  static constexpr size_t kBatchBytes = size_t{1} << 20;
  struct Batch {
    std::vector<std::pair<PixelRun, size_t>> runs;
    std::vector<uint8_t> bytes;
  };

  std::unique_ptr<Batch> take_free() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !free_.empty(); });
    std::unique_ptr<Batch> batch = std::move(free_.back());
    free_.pop_back();
    return batch;
  }

  void flush() {
    {
      std::lock_guard lock(mutex_);
      full_.push_back(std::move(filling_));
      changed_.notify_all();
    }
    filling_ = take_free();
  }

  PlantSampler* sampler_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> full_;
  std::vector<std::unique_ptr<Batch>> free_;
  std::unique_ptr<Batch> filling_;
  bool closed_ = false;
};

}  // namespace

bool scatter_png_file(const std::filesystem::path& path, const PlantCounts& counts, Random& rng,
                      const DecodeLimits& limits, ScatterResult* result, std::string* error,
                      const ProgressFn& progress) {
  if (!check_counts(counts, error)) return false;
  PlantSampler sampler(counts, rng);
  RowPipe pipe(&sampler);
  uint32_t width = 0, height = 0;

  struct SizeSpy final : PixelSink {
    PixelSink* next;
    uint32_t* width;
    uint32_t* height;
    void begin(uint32_t w, uint32_t h, int channels) override {
      *width = w;
      *height = h;
      next->begin(w, h, channels);
    }
    void pixels(const PixelRun& run) override { next->pixels(run); }
  } spy;
  spy.next = &pipe;
  spy.width = &width;
  spy.height = &height;

  DecodeOptions options;
  options.limits = limits;
  if (progress) {
    options.progress = [&](uint64_t done, uint64_t total) {
      return progress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
    };
  }

  std::thread sampling([&] { pipe.drain(); });
  const bool decoded = stream_png_file(path, spy, error, options);
  pipe.close();
  sampling.join();
  if (!decoded) return false;

  ScatterResult out;
  out.width = width;
  out.height = height;
  if (!sampler.finish(&out.plants, error)) return false;
  *result = std::move(out);
  return true;
}

}  // namespace plantscatter
