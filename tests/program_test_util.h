// What the whole-program tests share: files read and written whole, shell commands, and
// where POV-Ray keeps its include files.
#ifndef PLANTSCATTER_TESTS_PROGRAM_TEST_UTIL_H_
#define PLANTSCATTER_TESTS_PROGRAM_TEST_UTIL_H_

#include <filesystem>
#include <string>

namespace plantscatter::testing {

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);

// The word quoted for a POSIX shell, whatever characters it holds.
std::string shell_quote(const std::string& word);

// Runs the command through the shell; its exit status, or -1 when it did not exit.
int run_shell(const std::string& command);

// Whether the program is found on the PATH.
bool on_path(const std::string& program);

// The folder of POV-Ray's standard include files, where povray-includes puts crystal.ttf
// (the viewer scene's caption font); empty when there is none.
std::filesystem::path povray_include_folder();

}  // namespace plantscatter::testing

#endif  // PLANTSCATTER_TESTS_PROGRAM_TEST_UTIL_H_
