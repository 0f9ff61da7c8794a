#include "scatter/scatter.h"

#include <algorithm>
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
  }
}

PlantSampler PlantSampler::fork() const {
  PlantSampler copy;
  copy.width_ = width_;
  copy.height_ = height_;
  for (size_t i = 0; i < types_.size(); ++i) {
    copy.types_[i].stream = types_[i].stream;
    copy.types_[i].wanted = types_[i].wanted;
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

  // Maps are painted in areas of one colour, so the run is taken apart into stretches of
  // one colour: each is matched and counted once, and only the pixels of a sampled type
  // get keys.
  const uint8_t* pixels = run.pixels;
  const uint64_t first_index = uint64_t{run.y} * width_ + run.x0;
  const uint64_t counter_step = kGolden * run.x_step;
  uint32_t i = 0;
  while (i < run.count) {
    const uint32_t colour = colour_bits(pixels + size_t{i} * kChannels);
    uint32_t end = i + 1;
    while (end < run.count && colour_bits(pixels + size_t{end} * kChannels) == colour) ++end;
    const int id = match_plant_type(static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
                                    static_cast<uint8_t>(colour >> 16));
    if (id != 0) {
      TypeState& type = types_[static_cast<size_t>(id - 1)];
      type.seen += end - i;
      if (sampled[static_cast<size_t>(id)]) {
        uint64_t counter = stream_counter(type.stream, first_index + uint64_t{i} * run.x_step);
        for (uint32_t k = i; k < end; ++k, counter += counter_step) {
          const uint64_t key = mix(counter);
          if (key > type.limit.key) continue;
          const Candidate candidate{key, first_index + uint64_t{k} * run.x_step};
          if (!(candidate < type.limit)) continue;
          type.kept.push_back(candidate);
          if (type.kept.size() >= keep_capacity(type.wanted)) shrink(type);
        }
      }
    }
    i = end;
  }
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
    theirs.kept = {};
    if (mine.kept.size() >= keep_capacity(mine.wanted)) shrink(mine);
  }
}

bool PlantSampler::finish(std::vector<PlantRecord>* plants, std::string* error) {
  std::string shortages;
  for (const PlantType& type : kPlantTypes) {
    const TypeState& state = types_[static_cast<size_t>(type.id - 1)];
    if (state.seen < state.wanted) {
      shortages += "\n" + std::string(type.label) + ": " + std::to_string(state.wanted) +
                   " requested, " + std::to_string(state.seen) + " pixels of its colour " +
                   colour_text(type.key) + " in the map";
    }
  }
  if (!shortages.empty()) {
    *error = "Not enough pixels of a plant's key colour; nothing was placed." + shortages;
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
    state.kept = {};
  }
  *plants = std::move(out);
  return true;
}

bool scatter_image(const Image& image, const PlantCounts& counts, Random& rng,
                   std::vector<PlantRecord>* plants, std::string* error,
                   const ProgressFn& progress) {
  if (!check_counts(counts, error)) return false;
  PlantSampler sampler(counts, rng);
  sampler.begin(image.width, image.height, 4);

  // Rows are shared out in bands; the calling thread takes every band it can and reports
  // progress, a second thread helps on pictures large enough to repay it.
  const uint32_t band_rows = std::max<uint32_t>(1, (1u << 20) / std::max<uint32_t>(1, image.width));
  const uint32_t band_count = (image.height + band_rows - 1) / band_rows;
  std::mutex mutex;
  uint32_t next_band = 0;
  uint32_t bands_done = 0;
  bool cancelled = false;
  auto work = [&](PlantSampler& s, bool report) {
    for (;;) {
      uint32_t band;
      {
        std::lock_guard lock(mutex);
        if (cancelled || next_band == band_count) return;
        band = next_band++;
      }
      const uint32_t first = band * band_rows;
      const uint32_t last = std::min(image.height, first + band_rows);
      for (uint32_t y = first; y < last; ++y) {
        s.pixels({y, 0, 1, image.width, 4, image.row(y)});
      }
      std::lock_guard lock(mutex);
      ++bands_done;
      if (report && progress && !progress(static_cast<double>(bands_done) / band_count)) {
        cancelled = true;
      }
    }
  };

  const bool parallel = uint64_t{image.width} * image.height >= (uint64_t{1} << 21) &&
                        std::thread::hardware_concurrency() > 1;
  if (parallel) {
    PlantSampler helper_sampler = sampler.fork();
    std::thread helper([&] { work(helper_sampler, false); });
    work(sampler, true);
    helper.join();
    sampler.merge(std::move(helper_sampler));
  } else {
    work(sampler, true);
  }
  if (cancelled) {
    *error = "cancelled";
    return false;
  }
  return sampler.finish(plants, error);
}

void mark_plants(Image* image, std::span<const PlantRecord> plants) {
  for (const PlantRecord& plant : plants) image->set_pixel(plant.x, plant.y, kMarkerColour);
}

}  // namespace plantscatter
