#include "tests/program_test_util.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace plantscatter::testing {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

int run_shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool on_path(const std::string& program) {
  return run_shell("command -v " + shell_quote(program) + " >/dev/null 2>&1") == 0;
}

std::filesystem::path povray_include_folder() {
  for (const char* folder : {"/usr/share/povray-3.7/include", "/usr/share/povray/include",
                             "/usr/local/share/povray-3.7/include"}) {
    if (std::filesystem::exists(std::filesystem::path(folder) / "crystal.ttf")) return folder;
  }
  return {};
}

}  // namespace plantscatter::testing
