// C stdio files, which libpng reads and writes, opened from any path the system allows.
#ifndef PLANTSCATTER_PLANTS_C_FILE_H_
#define PLANTSCATTER_PLANTS_C_FILE_H_

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace plantscatter {

struct CFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, CFileCloser>;

// Opens `path` with an fopen() mode such as "rb" or "wb"; empty on failure, with errno set.
// On Windows the wide-character API takes the path, so any file name works.
inline CFile open_c_file(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::string narrow(mode);
  return CFile(_wfopen(path.c_str(), std::wstring(narrow.begin(), narrow.end()).c_str()));
#else
  return CFile(std::fopen(path.c_str(), mode));
#endif
}

}  // namespace plantscatter

#endif  // PLANTSCATTER_PLANTS_C_FILE_H_
