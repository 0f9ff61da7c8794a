#include "scatter/scatter.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>

namespace plantscatter {

namespace {

// The pixel's key in a type's stream: SplitMix64's output at position index + 1 of the
// stream that starts at `stream`. Any position gives a fresh, well-mixed 64-bit value, so
// the key of a pixel does not depend on when it is seen. Split in two so that a run of
// pixels can step the counter by addition.
constexpr uint64_t kGolden = 0x9e3779b97f4a7c15ull;

inline uint64_t stream_counter(uint64_t stream, uint64_t index) {
  return stream + (index + 1) * kGolden;
}

inline uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// The three colour bytes of a pixel as one number, for telling runs of a colour apart.
inline uint32_t colour_bits(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

// Calls visit(type_id, first, end) for each stretch [first, end) of the run's pixels that
// share one key colour. Maps are painted in areas of one colour, so matching a stretch once
// instead of each pixel is most of the speed of a pass.
template <int kChannels, typename Visit>
inline void for_each_key_stretch(const PixelRun& run, Visit&& visit) {
  const uint8_t* pixels = run.pixels;
  uint32_t i = 0;
  while (i < run.count) {
    const uint32_t colour = colour_bits(pixels + size_t{i} * kChannels);
    uint32_t end = i + 1;
    while (end < run.count && colour_bits(pixels + size_t{end} * kChannels) == colour) ++end;
    const int id = match_plant_type(static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
                                    static_cast<uint8_t>(colour >> 16));
    if (id != 0) visit(id, i, end);
    i = end;
  }
}

// How many candidates a type may hold before the surplus is dropped: twice what it needs
// (at least a few thousand), so each shrink pays for itself.
inline size_t keep_capacity(uint64_t wanted) {
  return static_cast<size_t>(wanted + std::max<uint64_t>(wanted, 4096));
}

std::string colour_text(Rgb c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

}  // namespace

bool check_counts(const PlantCounts& counts, std::string* error) {
  std::string message;
  for (const PlantType& type : kPlantTypes) {
    if (counts[type.id] < 0) {
      message += "The count of " + std::string(type.label) + " is " +
                 std::to_string(counts[type.id]) + "; a count cannot be negative.\n";
    }
  }
  if (message.empty()) return true;
  message.pop_back();
  *error = message;
  return false;
}

PlantSampler::PlantSampler(const PlantCounts& counts, Random& rng) {
  for (const PlantType& type : kPlantTypes) {
    TypeState& state = types_[static_cast<size_t>(type.id - 1)];
    state.stream = rng.next();
    state.wanted = counts[type.id] > 0 ? static_cast<uint64_t>(counts[type.id]) : 0;
    state.capacity = keep_capacity(state.wanted);
  }
}

PlantSampler PlantSampler::fork() const {
  PlantSampler copy;
  copy.width_ = width_;
  copy.height_ = height_;
  for (size_t i = 0; i < types_.size(); ++i) {
    copy.types_[i].stream = types_[i].stream;
    copy.types_[i].wanted = types_[i].wanted;
    copy.types_[i].capacity = keep_capacity(types_[i].wanted);
  }
  return copy;
}

void PlantSampler::begin(uint32_t width, uint32_t height, int /*channels*/) {
  width_ = width;
  height_ = height;
}

void PlantSampler::shrink(TypeState& type) {
  if (type.kept.size() <= type.wanted) return;
  const auto last_kept = type.kept.begin() + static_cast<std::ptrdiff_t>(type.wanted - 1);
  std::nth_element(type.kept.begin(), last_kept, type.kept.end());
  type.limit = *last_kept;
  type.kept.resize(static_cast<size_t>(type.wanted));
}

template <int kChannels>
void PlantSampler::sample_run(const PixelRun& run) {
  // A type is sampled only when the picture could hold its count at all; otherwise its
  // pixels are merely counted, for the message that refuses it.
  const uint64_t pixel_count = uint64_t{width_} * height_;
  std::array<bool, kPlantTypeCount + 1> sampled{};
  for (int id = 1; id <= kPlantTypeCount; ++id) {
    const uint64_t wanted = types_[static_cast<size_t>(id - 1)].wanted;
    sampled[static_cast<size_t>(id)] = wanted > 0 && wanted <= pixel_count;
  }

  // Only the pixels of a sampled type get keys.
  const uint64_t first_index = uint64_t{run.y} * width_ + run.x0;
  const uint64_t counter_step = kGolden * run.x_step;
  for_each_key_stretch<kChannels>(run, [&](int id, uint32_t first, uint32_t end) {
    TypeState& type = types_[static_cast<size_t>(id - 1)];
    type.seen += end - first;
    if (!sampled[static_cast<size_t>(id)]) return;
    uint64_t counter = stream_counter(type.stream, first_index + uint64_t{first} * run.x_step);
    for (uint32_t k = first; k < end; ++k, counter += counter_step) {
      const uint64_t key = mix(counter);
      if (key > type.limit.key) continue;
      const Candidate candidate{key, first_index + uint64_t{k} * run.x_step};
      if (!(candidate < type.limit)) continue;
      type.kept.push_back(candidate);
      if (type.kept.size() >= type.capacity) shrink(type);
    }
  });
}

void PlantSampler::pixels(const PixelRun& run) {
  if (run.channels == 4) {
    sample_run<4>(run);
  } else {
    sample_run<3>(run);
  }
}

void PlantSampler::merge(PlantSampler&& other) {
  for (size_t i = 0; i < types_.size(); ++i) {
    TypeState& mine = types_[i];
    TypeState& theirs = other.types_[i];
    mine.seen += theirs.seen;
    mine.limit = std::min(mine.limit, theirs.limit);
    mine.kept.insert(mine.kept.end(), theirs.kept.begin(), theirs.kept.end());
    std::vector<Candidate>().swap(theirs.kept);
    if (mine.kept.size() >= mine.capacity) shrink(mine);
  }
}

void PlantSampler::expect(const std::array<uint64_t, kPlantTypeCount>& available) {
  const uint64_t pixel_count = uint64_t{width_} * height_;
  for (size_t i = 0; i < types_.size(); ++i) {
    TypeState& type = types_[i];
    const uint64_t n = available[i];
    if (type.wanted == 0 || type.wanted > pixel_count || n < type.wanted) continue;
    // Keys below the bound number Binomial(n, bound / 2^64); aiming at six standard
    // deviations above the count makes falling short a one-in-a-billion event. The bound
    // only decides what is held meanwhile, never which plants win, so the floating point
    // here cannot change a result.
    const double wanted = static_cast<double>(type.wanted);
    const double aim = wanted + 6 * std::sqrt(wanted) + 64;
    if (aim >= static_cast<double>(n)) {
      type.capacity = static_cast<size_t>(n) + 1;
      type.kept.reserve(static_cast<size_t>(n));
      continue;
    }
    type.limit = {static_cast<uint64_t>(aim / static_cast<double>(n) * 18446744073709551616.0),
                  UINT64_MAX};
    type.bounded = true;
    const double room = aim + 6 * std::sqrt(aim);
    type.capacity = static_cast<size_t>(2 * room);
    type.kept.reserve(static_cast<size_t>(room));
  }
}

bool PlantSampler::complete() const {
  for (const TypeState& type : types_) {
    if (type.bounded && type.seen >= type.wanted && type.kept.size() < type.wanted) return false;
  }
  return true;
}

void PlantSampler::count_pixels(const PixelRun& run,
                                std::array<uint64_t, kPlantTypeCount>* counts) {
  const auto add = [counts](int id, uint32_t first, uint32_t end) {
    (*counts)[static_cast<size_t>(id - 1)] += end - first;
  };
  if (run.channels == 4) {
    for_each_key_stretch<4>(run, add);
  } else {
    for_each_key_stretch<3>(run, add);
  }
}

std::string PlantSampler::shortage_message(const PlantCounts& counts,
                                           const std::array<uint64_t, kPlantTypeCount>& available) {
  std::string shortages;
  for (const PlantType& type : kPlantTypes) {
    const int64_t wanted = counts[type.id];
    const uint64_t seen = available[static_cast<size_t>(type.id - 1)];
    if (wanted > 0 && seen < static_cast<uint64_t>(wanted)) {
      shortages += "\n" + std::string(type.label) + ": " + std::to_string(wanted) +
                   " requested, " + std::to_string(seen) + " pixels of its colour " +
                   colour_text(type.key) + " in the map";
    }
  }
  if (shortages.empty()) return shortages;
  return "Not enough pixels of a plant's key colour; nothing was placed." + shortages;
}

bool PlantSampler::finish(std::vector<PlantRecord>* plants, std::string* error) {
  PlantCounts counts;
  std::array<uint64_t, kPlantTypeCount> available{};
  for (size_t i = 0; i < types_.size(); ++i) {
    counts.count[i] = static_cast<int64_t>(types_[i].wanted);
    available[i] = types_[i].seen;
  }
  if (std::string message = shortage_message(counts, available); !message.empty()) {
    *error = std::move(message);
    return false;
  }

  std::vector<PlantRecord> out;
  uint64_t total = 0;
  for (const TypeState& state : types_) total += state.wanted;
  out.reserve(static_cast<size_t>(total));
  for (const PlantType& type : kPlantTypes) {
    TypeState& state = types_[static_cast<size_t>(type.id - 1)];
    if (state.wanted == 0) continue;
    shrink(state);
    std::sort(state.kept.begin(), state.kept.end());
    for (const Candidate& c : state.kept) {
      out.push_back({static_cast<uint32_t>(c.index % width_),
                     static_cast<uint32_t>(c.index / width_), type.id});
    }
    std::vector<Candidate>().swap(state.kept);
  }
  *plants = std::move(out);
  return true;
}

namespace {

// Runs `work(first_row, last_row, worker)` over bands of about a mebipixel of `image`, on
// the calling thread (worker 0) and, for pictures large enough to repay it, a second
// thread (worker 1). Progress is reported from the calling thread only, as `first` plus
// `share` times the fraction of bands done. Returns false when progress cancelled.
template <typename Work>
bool for_each_band(const Image& image, Work&& work, const ProgressFn& progress, double first,
                   double share, bool parallel) {
  const uint32_t band_rows =
      std::max<uint32_t>(1, (1u << 20) / std::max<uint32_t>(1, image.width));
  const uint32_t band_count = (image.height + band_rows - 1) / band_rows;
  std::mutex mutex;
  uint32_t next_band = 0;
  uint32_t bands_done = 0;
  bool cancelled = false;
  auto run = [&](int worker) {
    for (;;) {
      uint32_t band;
      {
        std::lock_guard lock(mutex);
        if (cancelled || next_band == band_count) return;
        band = next_band++;
      }
      const uint32_t first_row = band * band_rows;
      work(first_row, std::min(image.height, first_row + band_rows), worker);
      std::lock_guard lock(mutex);
      ++bands_done;
      if (worker == 0 && progress &&
          !progress(first + share * static_cast<double>(bands_done) / band_count)) {
        cancelled = true;
      }
    }
  };
  if (parallel) {
    std::thread helper(run, 1);
    run(0);
    helper.join();
  } else {
    run(0);
  }
  return !cancelled;
}

}  // namespace

bool scatter_image(const Image& image, const PlantCounts& counts, Random& rng,
                   std::vector<PlantRecord>* plants, std::string* error,
                   const ProgressFn& progress) {
  if (!check_counts(counts, error)) return false;
  const bool parallel = uint64_t{image.width} * image.height >= (uint64_t{1} << 21) &&
                        std::thread::hardware_concurrency() > 1;
  auto row_run = [&](uint32_t y) { return PixelRun{y, 0, 1, image.width, 4, image.row(y)}; };

  // First pass: count each type's pixels, on both cores. A short type is refused before
  // any key is drawn, and the counts let the sampler hold barely more than it keeps.
  std::array<std::array<uint64_t, kPlantTypeCount>, 2> counted{};
  const auto count_band = [&](uint32_t first_row, uint32_t last_row, int worker) {
    for (uint32_t y = first_row; y < last_row; ++y) {
      PlantSampler::count_pixels(row_run(y), &counted[static_cast<size_t>(worker)]);
    }
  };
  if (!for_each_band(image, count_band, progress, 0.0, 0.3, parallel)) {
    *error = "cancelled";
    return false;
  }
  std::array<uint64_t, kPlantTypeCount> available{};
  for (size_t i = 0; i < available.size(); ++i) available[i] = counted[0][i] + counted[1][i];
  if (std::string message = PlantSampler::shortage_message(counts, available); !message.empty()) {
    *error = std::move(message);
    return false;
  }

  // Second pass: draw keys. One sampler on one thread, so each candidate is held once.
  PlantSampler sampler(counts, rng);
  sampler.begin(image.width, image.height, 4);
  PlantSampler unbounded = sampler.fork();
  sampler.expect(available);
  const auto sample_band = [&](uint32_t first_row, uint32_t last_row, int) {
    for (uint32_t y = first_row; y < last_row; ++y) sampler.pixels(row_run(y));
  };
  if (!for_each_band(image, sample_band, progress, 0.3, 0.7, false)) {
    *error = "cancelled";
    return false;
  }
  if (!sampler.complete()) {
    const auto resample_band = [&](uint32_t first_row, uint32_t last_row, int) {
      for (uint32_t y = first_row; y < last_row; ++y) unbounded.pixels(row_run(y));
    };
    if (!for_each_band(image, resample_band, progress, 0.3, 0.7, false)) {
      *error = "cancelled";
      return false;
    }
    return unbounded.finish(plants, error);
  }
  return sampler.finish(plants, error);
}

void mark_plants(Image* image, std::span<const PlantRecord> plants) {
  for (const PlantRecord& plant : plants) image->set_pixel(plant.x, plant.y, kMarkerColour);
}

}  // namespace plantscatter
