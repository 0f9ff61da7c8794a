#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> storage;
#ifdef _WIN32
  // The narrow argv is in the ANSI code page; paths travel as UTF-8 inside the program.
  (void)argc;
  (void)argv;
  int wide_count = 0;
  if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wide_count)) {
    for (int i = 1; i < wide_count; ++i) {
      const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
      std::string arg(size > 0 ? size - 1 : 0, '\0');
      WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
      storage.push_back(std::move(arg));
    }
    LocalFree(wide);
  }
  const bool err_is_terminal = _isatty(_fileno(stderr)) != 0;
#else
  for (int i = 1; i < argc; ++i) storage.emplace_back(argv[i]);
  const bool err_is_terminal = isatty(fileno(stderr)) != 0;
#endif
  const std::vector<std::string_view> args(storage.begin(), storage.end());
  return plantscatter::run_cli(args, std::cout, std::cerr, err_is_terminal);
}
