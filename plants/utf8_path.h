// File names travel through the program as UTF-8 text; these turn them into paths the
// operating system accepts and back, on every platform.
#ifndef PLANTSCATTER_PLANTS_UTF8_PATH_H_
#define PLANTSCATTER_PLANTS_UTF8_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace plantscatter {

inline std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8_from_path(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_UTF8_PATH_H_
