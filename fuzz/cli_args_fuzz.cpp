// Parses arbitrary argument lists (the input split at NUL bytes). A refusal must carry a
// message and leave the options alone, and the tool must then exit with the usage code
// without touching any file; an accepted list must give options that, written back out as
// plain arguments, parse to the very same options.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

namespace {

using plantscatter::CliOptions;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "cli_args_fuzz: broken invariant: %s\n", what);
  std::abort();
}

bool same_options(const CliOptions& a, const CliOptions& b) {
  return a.map == b.map && a.counts.count == b.counts.count && a.seed == b.seed &&
         a.output == b.output && a.marked_map == b.marked_map && a.pov_version == b.pov_version &&
         a.limits.max_width == b.limits.max_width && a.limits.max_height == b.limits.max_height &&
         a.limits.max_pixels == b.limits.max_pixels && a.quiet == b.quiet && a.help == b.help;
}

// The options as one plain argument each, every value in its own word.
std::vector<std::string> written_out(const CliOptions& options) {
  std::vector<std::string> words;
  for (int type = 1; type <= plantscatter::kPlantTypeCount; ++type) {
    words.push_back("--count");
    words.push_back(std::to_string(type) + "=" + std::to_string(options.counts[type]));
  }
  if (options.seed) {
    words.push_back("--seed");
    words.push_back(std::to_string(*options.seed));
  }
  if (!options.output.empty()) {
    words.push_back("--output");
    words.push_back(options.output);
  }
  if (!options.marked_map.empty()) {
    words.push_back("--marked-map");
    words.push_back(options.marked_map);
  }
  words.push_back("--pov-version");
  words.push_back(options.pov_version == plantscatter::PovVersion::k37 ? "3.7" : "3.8");
  words.push_back("--max-pixels");
  words.push_back(std::to_string(options.limits.max_pixels));
  if (options.quiet) words.push_back("-q");
  if (options.help) words.push_back("--help");
  if (!options.map.empty()) {
    words.push_back("--");
    words.push_back(options.map);
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  if (!input.empty()) {
    size_t start = 0;
    for (;;) {
      const size_t end = input.find('\0', start);
      args.push_back(input.substr(start, end - start));
      if (end == std::string_view::npos || args.size() == 64) break;
      start = end + 1;
    }
  }

  CliOptions options;
  options.map = "untouched";
  std::string error;
  if (!plantscatter::parse_cli_args(args, &options, &error)) {
    check(!error.empty(), "a refusal has a message");
    check(options.map == "untouched", "a refusal leaves the options alone");
    // The tool stops at the usage error, before any file is opened.
    std::ostringstream out, err;
    check(plantscatter::run_cli(args, out, err, false) == plantscatter::kExitUsage,
          "usage errors exit with 2");
    check(out.str().empty(), "usage errors print nothing on stdout");
    check(err.str().find(error) != std::string::npos, "the message reaches stderr");
    return 0;
  }
  check(options.help || !options.map.empty(), "a map or --help");
  check(options.limits.max_pixels > 0, "a pixel limit above 0");

  const std::vector<std::string> words = written_out(options);
  const std::vector<std::string_view> again(words.begin(), words.end());
  CliOptions reparsed;
  check(plantscatter::parse_cli_args(again, &reparsed, &error), "written-out options parse");
  check(same_options(options, reparsed), "written-out options parse to the same options");

  if (options.help) {
    std::ostringstream out, err;
    check(plantscatter::run_cli(args, out, err, false) == plantscatter::kExitOk, "help exits 0");
    check(out.str() == plantscatter::cli_usage(), "help prints the usage");
  }
  return 0;
}
