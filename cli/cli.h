// The command-line front end: options, and one run from a map to an export file.
#ifndef PLANTSCATTER_CLI_CLI_H_
#define PLANTSCATTER_CLI_CLI_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "export/pov_version.h"
#include "plants/count_text.h"
#include "plants/png_decode.h"

namespace plantscatter {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // bad input or a failed write
inline constexpr int kExitUsage = 2;

struct CliOptions {
  std::string map;
  PlantCounts counts;
  std::optional<uint64_t> seed;
  std::string output;      // empty: beside the map, named after it
  std::string marked_map;  // empty: no marked picture is written
  PovVersion pov_version = PovVersion::k38;
  DecodeLimits limits;
  bool quiet = false;
  bool help = false;
};

// Parses the arguments after the program name. On a usage error returns false with a
// message in `*error`.
bool parse_cli_args(std::span<const std::string_view> args, CliOptions* options,
                    std::string* error);

std::string cli_usage();

// Runs the whole job. `out` gets the summary, `err` errors and, when `err_is_terminal`,
// progress of long work. Returns the exit code.
int run_cli(std::span<const std::string_view> args, std::ostream& out, std::ostream& err,
            bool err_is_terminal);

}  // namespace plantscatter

#endif  // PLANTSCATTER_CLI_CLI_H_
