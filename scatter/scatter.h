// Placing plants: for each type, the requested number of distinct pixels of the type's key
// colour, each drawn uniformly from the type's pixels not chosen yet.
//
// The sampler gives every pixel of a type a pseudo-random key from a counter-based stream
// (seeded from the caller's Random) that depends only on the pixel's position, and keeps the
// pixels with the smallest keys, smallest first. For independent uniform keys that is exactly
// a uniform random ordered sample without replacement - the same distribution as drawing
// random pixels until enough of the right colour turn up - but it takes one pass over the
// picture, costs the same for a rare colour as for a common one, holds only a little more
// than the chosen pixels in memory, and gives the same result in whatever order the pixels
// arrive (streamed rows, interlace passes, or several threads).
#ifndef PLANTSCATTER_SCATTER_SCATTER_H_
#define PLANTSCATTER_SCATTER_SCATTER_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "plants/count_text.h"
#include "plants/image.h"
#include "plants/plant_types.h"
#include "plants/png_decode.h"
#include "scatter/random.h"

namespace plantscatter {

// One placed plant: its pixel, counted from the map's top-left corner, and its type.
struct PlantRecord {
  uint32_t x = 0;
  uint32_t y = 0;
  int type_id = 0;
  friend bool operator==(const PlantRecord&, const PlantRecord&) = default;
};

// Refuses counts that cannot be processed: a negative count (its plants could not be placed,
// and the plant count would disagree with the plants listed).
bool check_counts(const PlantCounts& counts, std::string* error);

class PlantSampler final : public PixelSink {
 public:
  // Draws one stream key per type from `rng`, for all ten types in id order.
  PlantSampler(const PlantCounts& counts, Random& rng);

  // An empty sampler with the same counts and keys, to be fed other pixels of the same
  // picture (from another thread, say) and merged back.
  PlantSampler fork() const;

  void begin(uint32_t width, uint32_t height, int channels) override;
  void pixels(const PixelRun& run) override;

  // Takes over everything `other` (a fork of this sampler) has seen.
  void merge(PlantSampler&& other);

  // For a picture whose key-colour pixels are already counted (index 0 is type 1): lets
  // through only keys below a bound that leaves, with overwhelming odds, a little more than
  // each type's count, so the sampler holds barely more than the plants it keeps and never
  // has to shed any. The plants chosen are the same as without the bound, unless
  // complete() says otherwise afterwards.
  void expect(const std::array<uint64_t, kPlantTypeCount>& available);

  // After the pixels: false when a bound set by expect() turned out too tight for some type
  // (odds below one in a billion); the pixels must then be offered again to a new sampler
  // without bounds.
  bool complete() const;

  // The ten key-colour pixel counts of a run, added to `counts` (index 0 is type 1).
  static void count_pixels(const PixelRun& run, std::array<uint64_t, kPlantTypeCount>* counts);

  // The message refusing the types whose `available` pixels fall short of their counts, or
  // an empty text when none do.
  static std::string shortage_message(const PlantCounts& counts,
                                      const std::array<uint64_t, kPlantTypeCount>& available);

  // After every pixel has been seen: the plants in placement order (all of type 1 first,
  // then type 2, ...), or false with a message naming each type whose map holds fewer
  // pixels of its key colour than its count.
  bool finish(std::vector<PlantRecord>* plants, std::string* error);

  // Pixels of the type's key colour seen so far.
  uint64_t available(int type_id) const { return types_[static_cast<size_t>(type_id - 1)].seen; }

 private:
  struct Candidate {
    uint64_t key;
    uint64_t index;  // y * width + x
    friend bool operator<(const Candidate& a, const Candidate& b) {
      return a.key < b.key || (a.key == b.key && a.index < b.index);
    }
  };
  struct TypeState {
    uint64_t stream = 0;     // key of the type's pseudo-random stream
    uint64_t wanted = 0;     // 0 for types that are not sampled
    uint64_t seen = 0;
    Candidate limit{UINT64_MAX, UINT64_MAX};  // only candidates below it can still be chosen
    bool bounded = false;                     // limit set by expect(), not by shedding
    size_t capacity = 0;                      // kept is shed back to `wanted` at this size
    std::vector<Candidate> kept;
  };

  PlantSampler() = default;
  template <int kChannels>
  void sample_run(const PixelRun& run);
  static void shrink(TypeState& type);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  std::array<TypeState, kPlantTypeCount> types_;
};

// A scattered map: its size and the plants placed on it.
struct ScatterResult {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<PlantRecord> plants;
};

// Progress of long work as a fraction from 0 to 1; returning false cancels.
using ProgressFn = std::function<bool(double fraction)>;

// Scatters over a decoded picture, using both cores on large pictures. The picture is not
// changed; see mark_plants().
bool scatter_image(const Image& image, const PlantCounts& counts, Random& rng,
                   std::vector<PlantRecord>* plants, std::string* error,
                   const ProgressFn& progress = {});

// Scatters over a PNG file without holding the picture: one thread decodes while another
// samples. Memory stays at a few rows plus the chosen plants.
bool scatter_png_file(const std::filesystem::path& path, const PlantCounts& counts, Random& rng,
                      const DecodeLimits& limits, ScatterResult* result, std::string* error,
                      const ProgressFn& progress = {});

// Paints every plant's pixel with the marker colour.
void mark_plants(Image* image, std::span<const PlantRecord> plants);

}  // namespace plantscatter

#endif  // PLANTSCATTER_SCATTER_SCATTER_H_
