#include "export/export_writer.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "export/export_paths.h"
#include "export/number_format.h"
#include "export/viewer_scene.h"
#include "plants/plant_types.h"
#include "plants/utf8_path.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace plantscatter {

namespace {

// Rows are formatted in blocks of this many: about 1 MiB of text each, a size that keeps
// the sink's calls few and large.
constexpr size_t kRowsPerBlock = 4096;

// More than the longest six lines one row can take, 359 bytes in the 3.7 form: up to 58
// bytes before each value (the longest array name and a row number of 20 digits), values of
// up to 31 bytes (a position of two 10-digit numbers), and the line ends.
constexpr size_t kMaxRowBytes = 384;

// Below this many plants a second thread costs more than it saves.
constexpr size_t kParallelFromPlants = 8192;

constexpr int kRotationMin = 0;
constexpr int kRotationMax = 360;
constexpr int kScaleMin = 80;
constexpr int kScaleMax = 120;

// Rotation and scale come from small integer ranges, so their texts are made once.
struct ValueTexts {
  struct Text {
    char bytes[8];
    uint8_t size;
  };
  Text rotation[kRotationMax - kRotationMin + 1];
  Text scale[kScaleMax - kScaleMin + 1];

  ValueTexts() {
    for (int k = kRotationMin; k <= kRotationMax; ++k) {
      Text& t = rotation[k - kRotationMin];
      t.size = static_cast<uint8_t>(format_fixed(t.bytes, static_cast<float>(k), 2) - t.bytes);
    }
    for (int k = kScaleMin; k <= kScaleMax; ++k) {
      Text& t = scale[k - kScaleMin];
      const float value = static_cast<float>(k) / 100.0f;
      t.size = static_cast<uint8_t>(format_fixed(t.bytes, value, 4) - t.bytes);
    }
  }
};

const ValueTexts& value_texts() {
  static const ValueTexts texts;
  return texts;
}

// The random values of one row, as offsets from the bottom of their ranges.
struct RowDraws {
  uint16_t rotation;
  uint8_t scale;
};

// How a row's five values are named: each line starts with the text before the row number,
// the number, and the text after it.
struct RowNames {
  std::string_view before[5];
  std::string_view after[5];
};

// One two-dimensional mixed array, `array_plants [i][k]`.
constexpr RowNames kRowNames38 = {
    {"#declare array_plants [", "#declare array_plants [", "#declare array_plants [",
     "#declare array_plants [", "#declare array_plants ["},
    {"][0] = ", "][1] = ", "][2] = ", "][3] = ", "][4] = "},
};

// Five arrays of one type each, for parsers without mixed arrays.
constexpr RowNames kRowNames37 = {
    {"#declare array_plants_id [", "#declare array_plants_position [",
     "#declare array_plants_rotation [", "#declare array_plants_scale [",
     "#declare array_plants_normalized ["},
    {"] = ", "] = ", "] = ", "] = ", "] = "},
};

struct RowFormat {
  uint32_t width;
  uint32_t height;
  PovVersion version;
};

inline char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The names are template arguments so that their lengths are constants and their copies
// compile to a few moves, as the literal text did before there were two forms.
template <const RowNames& kNames, int kColumn>
inline char* append_row_start(char* out, std::string_view number) {
  out = append(out, kNames.before[kColumn]);
  out = append(out, number);
  return append(out, kNames.after[kColumn]);
}

// The six lines of each of `rows`, numbered from `first_number`, with their pre-drawn values.
// A pure function of its arguments, so blocks can be formatted on any thread.
template <const RowNames& kNames>
char* format_named_rows(const RowFormat& format, std::span<const PlantRecord> rows,
                        uint64_t first_number, const RowDraws* draws, char* out) {
  const ValueTexts& texts = value_texts();
  const double width = format.width;
  const double height = format.height;
  uint64_t number = first_number;
  for (const PlantRecord& plant : rows) {
    char number_bytes[20];
    const std::string_view number_text(
        number_bytes,
        static_cast<size_t>(format_int(number_bytes, static_cast<int64_t>(number)) - number_bytes));

    out = append_row_start<kNames, 0>(out, number_text);
    out = format_int(out, plant.type_id);
    out = append(out, " ;\r\n");

    out = append_row_start<kNames, 1>(out, number_text);
    *out++ = '<';
    out = format_int(out, plant.x);
    out = append(out, ", 0, ");
    out = format_int(out, int64_t{format.height} - int64_t{plant.y});
    out = append(out, "> ;\r\n");

    const ValueTexts::Text& rotation = texts.rotation[draws->rotation];
    out = append_row_start<kNames, 2>(out, number_text);
    out = append(out, std::string_view(rotation.bytes, rotation.size));
    out = append(out, " ;\r\n");

    const ValueTexts::Text& scale = texts.scale[draws->scale];
    out = append_row_start<kNames, 3>(out, number_text);
    out = append(out, std::string_view(scale.bytes, scale.size));
    out = append(out, " ;\r\n");

    // Quotients in double, then rounded once to single precision for printing.
    const float u = static_cast<float>(plant.x / width);
    const float v = static_cast<float>(1.0 - plant.y / height);
    out = append_row_start<kNames, 4>(out, number_text);
    *out++ = '<';
    out = format_fixed(out, u, 6);
    out = append(out, ", 0, ");
    out = format_fixed(out, v, 6);
    out = append(out, "> ;\r\n\r\n");

    ++number;
    ++draws;
  }
  return out;
}

char* format_rows(const RowFormat& format, std::span<const PlantRecord> rows, uint64_t first_number,
                  const RowDraws* draws, char* out) {
  if (format.version == PovVersion::k37) {
    return format_named_rows<kRowNames37>(format, rows, first_number, draws, out);
  }
  return format_named_rows<kRowNames38>(format, rows, first_number, draws, out);
}

struct Block {
  size_t first = 0;  // index of the block's first plant
  size_t count = 0;
  std::vector<RowDraws> draws;
  std::unique_ptr<char[]> text;
  size_t size = 0;
  bool posted = false;     // handed to the worker
  bool formatted = false;  // guarded by the worker's mutex while posted
};

void format_block(const RowFormat& format, std::span<const PlantRecord> plants, Block* block) {
  char* end = format_rows(format, plants.subspan(block->first, block->count), block->first + 1,
                          block->draws.data(), block->text.get());
  block->size = static_cast<size_t>(end - block->text.get());
  assert(block->size <= block->count * kMaxRowBytes);
}

// A second thread that formats the blocks posted to it, in the order posted.
class FormatWorker {
 public:
  FormatWorker(const RowFormat& format, std::span<const PlantRecord> plants)
      : format_(format), plants_(plants), thread_([this] { run(); }) {}

  ~FormatWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  void post(Block* block) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      block->posted = true;
      block->formatted = false;
      queue_.push_back(block);
    }
    wake_.notify_one();
  }

  // Returns once `block`, if it was posted, is formatted.
  void wait(Block* block) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!block->posted) return;
    done_.wait(lock, [block] { return block->formatted; });
    block->posted = false;
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      Block* block = queue_.front();
      queue_.pop_front();
      lock.unlock();
      format_block(format_, plants_, block);
      lock.lock();
      block->formatted = true;
      done_.notify_one();
    }
  }

  const RowFormat format_;
  const std::span<const PlantRecord> plants_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<Block*> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

int choose_threads(int requested, size_t plant_count) {
  if (requested == 1) return 1;
  if (requested >= 2) return 2;
  if (plant_count <= kParallelFromPlants) return 1;
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// The plant rows in blocks. The random values are drawn here, on the calling thread, in
// plant order (rotation, then scale); with two threads the worker formats every second
// block while this thread formats the others and hands the blocks to the sink in order.
bool write_rows(const ExportInput& input, Random& rng, ExportSink& sink, std::string* error) {
  const std::span<const PlantRecord> plants = input.plants;
  const size_t block_count = (plants.size() + kRowsPerBlock - 1) / kRowsPerBlock;
  if (block_count == 0) return true;
  const RowFormat format{input.width, input.height, input.pov_version};
  const int threads = block_count > 1 ? choose_threads(input.format_threads, plants.size()) : 1;

  // Up to four blocks in flight with two threads: one being written, one being formatted by
  // each thread, one drawn ahead.
  const size_t ring = std::min<size_t>(threads == 2 ? 4 : 1, block_count);
  std::vector<Block> blocks(ring);
  for (Block& block : blocks) {
    block.draws.resize(kRowsPerBlock);
    block.text = std::make_unique<char[]>(kRowsPerBlock * kMaxRowBytes);
  }

  std::unique_ptr<FormatWorker> worker;  // declared after `blocks`: stops before they go
  if (threads == 2) {
    try {
      worker = std::make_unique<FormatWorker>(format, plants);
    } catch (const std::system_error&) {
      // No thread to be had: the same bytes come out of this thread alone.
    }
  }

  size_t next_to_write = 0;
  auto write_next = [&]() {
    Block& block = blocks[next_to_write % ring];
    if (worker) worker->wait(&block);
    ++next_to_write;
    return sink.write(std::string_view(block.text.get(), block.size), error);
  };

  for (size_t b = 0; b < block_count; ++b) {
    while (next_to_write + ring <= b) {
      if (!write_next()) return false;
    }
    Block& block = blocks[b % ring];
    block.first = b * kRowsPerBlock;
    block.count = std::min(kRowsPerBlock, plants.size() - block.first);
    for (size_t i = 0; i < block.count; ++i) {
      block.draws[i].rotation = static_cast<uint16_t>(rng.in_range(kRotationMin, kRotationMax));
      block.draws[i].scale = static_cast<uint8_t>(rng.in_range(kScaleMin, kScaleMax) - kScaleMin);
    }
    if (worker && b % 2 == 1) {
      worker->post(&block);
    } else {
      format_block(format, plants, &block);
    }
  }
  while (next_to_write < block_count) {
    if (!write_next()) return false;
  }
  return true;
}

bool check_plants(const ExportInput& input, std::string* error) {
  for (size_t i = 0; i < input.plants.size(); ++i) {
    const PlantRecord& plant = input.plants[i];
    if (plant.type_id < 1 || plant.type_id > kPlantTypeCount) {
      *error = "plant " + std::to_string(i + 1) + " has type " + std::to_string(plant.type_id) +
               "; types are 1 to " + std::to_string(kPlantTypeCount);
      return false;
    }
    if (plant.x >= input.width || plant.y >= input.height) {
      *error = "plant " + std::to_string(i + 1) + " at (" + std::to_string(plant.x) + ", " +
               std::to_string(plant.y) + ") lies outside the " + std::to_string(input.width) +
               " x " + std::to_string(input.height) + " map";
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
std::wstring wide_from_utf8(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string utf8_from_wide(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

// Text in the system's ANSI code page, as programs that are not Unicode-aware read it; a
// character the code page lacks becomes its default character.
std::string ansi_from_utf8(std::string_view utf8) {
  const std::wstring wide = wide_from_utf8(utf8);
  if (wide.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), size,
                      nullptr, nullptr);
  return ansi;
}
#endif

// The header comments and the declarations that describe the map: lines 1 to 21 of the 3.8
// form; the 3.7 form declares five arrays where the 3.8 form declares one.
std::string header_lines(const ExportInput& input) {
  const ExportPaths paths = derive_export_paths(input.map_path);
  // The map is named by its file name as it is, not the base name plus a lower-case ".png":
  // on a case-sensitive file system "MAP.PNG" must stay "MAP.PNG" for the scene to find it.
  const std::string map_text = paths.scene_folder + paths.file_name;
  std::string quoted;
  for (char c : map_text) {
    if (c == '"') quoted += '\\';  // a bare quote would end the scene's string
    quoted += c;
  }
  const std::string width = int_text(input.width);
  const std::string height = int_text(input.height);
  const int64_t count = static_cast<int64_t>(input.plants.size());

  std::string text;
  text += "// pixel map data  v.06 - velbrin 07.21.26 \r\n";
  text += "// plant image: " + map_text + "    " + width + " x " + height + "\r\n";
  text +=
      "// scale array x & z to fix topo scale:  10 unit topo with a 2000 px plant map = "
      "10/2000 or 0.005\r\n";
  text += "\r\n";
  text += "//    array_name[#n][0] = plant ID\r\n";
  text += "//    array_name[#n][1] = position\r\n";
  text += "//    array_name[#n][2] = rnd rotation \r\n";
  text += "//    array_name[#n][3] = rnd scale \r\n";
  text += "//    array_name[#n][4] = x,y positions normalized from 0-1 \r\n";
  text += "\r\n";
  text += "#declare plant_map = \"" + quoted + "\"\r\n";
  text += "#declare plant_count = " + int_text(count) + " ;\r\n";
  text += "#declare plant_map_scale = <" + width + ", 1, " + height + "> ; \r\n";
  text += "#declare topo_scale = <10,1,10> ; //  change to fit project topo size \r\n";
  text +=
      "#declare scale_factor = < topo_scale.x/plant_map_scale.x, 1, "
      "topo_scale.z/plant_map_scale.z > ;\r\n";
  text += "#declare norm = <0,0,0>;\r\n";
  text += "#declare trace_height = 100 ;\r\n";
  text += "#declare plant_types = 10 ;      // hardcoded in read plant map\r\n";
  text += "\r\n";
  const std::string rows = int_text(count + 1);
  if (input.pov_version == PovVersion::k37) {
    // Row i of every array belongs to plant i; the comments tie each array to its column in
    // the index comments above.
    text += "#declare array_plants_id = array [" + rows + "] ;  // array_name[#n][0]\r\n";
    text += "#declare array_plants_position = array [" + rows + "] ;  // array_name[#n][1]\r\n";
    text += "#declare array_plants_rotation = array [" + rows + "] ;  // array_name[#n][2]\r\n";
    text += "#declare array_plants_scale = array [" + rows + "] ;  // array_name[#n][3]\r\n";
    text += "#declare array_plants_normalized = array [" + rows + "] ;  // array_name[#n][4]\r\n";
  } else {
    text += "#declare array_plants = array mixed [" + rows + "][5]  ;\r\n";
  }
  text += "\r\n";
#ifdef _WIN32
  text = ansi_from_utf8(text);
#endif
  return text;
}

// ---- Files ----

std::string path_text(const std::filesystem::path& path) {
  return utf8_from_path(path);
}

// A name no other writer picks: the process, a counter and the clock.
std::string unique_suffix() {
  static std::atomic<uint64_t> counter{0};
  const uint64_t ticks =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
  const uint64_t process = GetCurrentProcessId();
#else
  const uint64_t process = static_cast<uint64_t>(getpid());
#endif
  return std::to_string(process) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
         std::to_string(ticks % 1000000007);
}

std::filesystem::path temporary_path_for(const std::filesystem::path& path) {
  std::string name = ".";
  name += utf8_from_path(path.filename());
  name += '.';
  name += unique_suffix();
  name += ".tmp";
  return path.parent_path() / path_from_utf8(name);
}

#ifdef _WIN32

std::string system_reason(DWORD code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring text = length ? std::wstring(message, length) : L"error " + std::to_wstring(code);
  if (message) LocalFree(message);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.' ||
                           text.back() == L' ')) {
    text.pop_back();
  }
  return utf8_from_wide(text);
}

class HandleSink : public ExportSink {
 public:
  HandleSink(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  bool write(std::string_view bytes, std::string* error) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr)) {
        *error = "cannot write " + path_ + ": " + system_reason(GetLastError());
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

 private:
  HANDLE handle_;
  std::string path_;
};

bool write_file_replacing(const ExportInput& input, Random& rng, const std::filesystem::path& path,
                          std::string* error) {
  const std::string shown = path_text(path);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      *error = "cannot write " + shown + ": it is a folder";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      *error = "cannot write " + shown + ": the file is read-only";
      return false;
    }
  }

  std::filesystem::path temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = temporary_path_for(path);
    handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot write " + shown + ": " + system_reason(GetLastError());
    return false;
  }

  HandleSink sink(handle, shown);
  bool ok = write_export(input, rng, sink, error);
  if (!CloseHandle(handle) && ok) {
    *error = "cannot write " + shown + ": " + system_reason(GetLastError());
    ok = false;
  }
  // The temporary was hidden; the finished file takes the replaced file's attributes, or
  // none.
  const DWORD carried =
      attributes == INVALID_FILE_ATTRIBUTES
          ? 0
          : attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (ok && !SetFileAttributesW(temporary.c_str(), carried ? carried : FILE_ATTRIBUTE_NORMAL)) {
    *error = "cannot write " + shown + ": " + system_reason(GetLastError());
    ok = false;
  }
  if (ok && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    *error = "cannot write " + shown + ": " + system_reason(GetLastError());
    ok = false;
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
}

#else  // POSIX

std::string system_reason(int code) {
  return std::generic_category().message(code);
}

class DescriptorSink : public ExportSink {
 public:
  DescriptorSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  bool write(std::string_view bytes, std::string* error) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), std::min<size_t>(bytes.size(), 1u << 30));
      if (written < 0) {
        if (errno == EINTR) continue;
        *error = "cannot write " + path_ + ": " + system_reason(errno);
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
  }

 private:
  int fd_;
  std::string path_;
};

bool write_file_replacing(const ExportInput& input, Random& rng, const std::filesystem::path& path,
                          std::string* error) {
  const std::string shown = path_text(path);
  // Permission bits, not access(): a file the user made read-only stays so even for root.
  struct stat existing;
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    *error = "cannot write " + shown + ": " + system_reason(errno);
    return false;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    *error = "cannot write " + shown + ": it is a folder";
    return false;
  }
  if (exists && !(existing.st_mode & S_IWUSR)) {
    *error = "cannot write " + shown + ": the file is read-only";
    return false;
  }

  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporary_path_for(path);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *error = "cannot write " + shown + ": " + system_reason(errno);
    return false;
  }

  bool ok = true;
  if (exists && ::fchmod(fd, existing.st_mode & 0777) != 0) {
    *error = "cannot write " + shown + ": " + system_reason(errno);
    ok = false;
  }
  DescriptorSink sink(fd, shown);
  ok = ok && write_export(input, rng, sink, error);
  // No fsync: it would cost seconds on files of hundreds of megabytes, and replacing by
  // rename already gives what editors rely on, the old file or the whole new one.
  if (::close(fd) != 0 && ok) {
    *error = "cannot write " + shown + ": " + system_reason(errno);
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + shown + ": " + system_reason(errno);
    ok = false;
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

#endif

}  // namespace

bool check_map_path(std::string_view map_path, std::string* error) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(map_path.data());
  const size_t size = map_path.size();
  size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x20 || lead == 0x7f) {
      *error = "the map path holds a control character (byte " + std::to_string(lead) +
               "), which cannot be written into the export";
      return false;
    }
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // Multi-byte sequences: the shortest form only, no surrogates, nothing above U+10FFFF.
    size_t length;
    unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      if (lead == 0xe0) low = 0xa0;
      if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      if (lead == 0xf0) low = 0x90;
      if (lead == 0xf4) high = 0x8f;
    } else {
      length = 0;
    }
    bool valid = length != 0 && i + length <= size && bytes[i + 1] >= low && bytes[i + 1] <= high;
    for (size_t k = 2; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xc0) == 0x80;
    }
    if (!valid) {
      *error = "the map path is not valid UTF-8 text";
      return false;
    }
    i += length;
  }
  return true;
}

bool write_export(const ExportInput& input, Random& rng, ExportSink& sink, std::string* error) {
  if (!check_map_path(input.map_path, error)) return false;
  if (!check_plants(input, error)) return false;
  try {
    if (!sink.write(header_lines(input), error)) return false;
    if (!write_rows(input, rng, sink, error)) return false;
  } catch (const std::bad_alloc&) {
    *error = "not enough memory to write the export";
    return false;
  }
  // The scene already ends with a line end; one more leaves the file ending in an empty line.
  return sink.write(viewer_scene(input.pov_version), error) && sink.write("\r\n", error);
}

bool check_local_map_path(std::string_view map_path, std::string* error) {
  if (!check_map_path(map_path, error)) return false;
#ifndef _WIN32
  if (map_path.find('\\') != std::string_view::npos) {
    *error = std::string(map_path) +
             ": the map's path holds a backslash, which the export would read as a folder "
             "separator: rename the map or its folder";
    return false;
  }
#endif
  return true;
}

bool write_export_file(const ExportInput& input, Random& rng, const std::filesystem::path& path,
                       std::string* error) {
  if (!check_map_path(input.map_path, error)) return false;
  return write_file_replacing(input, rng, path, error);
}

}  // namespace plantscatter
