// Console output operations.
#include "common/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vellisk {

namespace {
int first_output_error = 0;
}

void flush_output() {
  std::fflush(stdout);
  if (std::ferror(stdout)) fail_output(errno != 0 ? errno : EIO);
}

void fail_output(int error_number) {
  if (first_output_error == 0) first_output_error = error_number;
}

int output_error() { return first_output_error; }

int print_line_path(const char* text, const char* path) {
  errno = 0;
  const int result =
      path != nullptr ? std::printf("%s%s\n", text, path) : std::printf("%s\n", text);
  flush_output();
  return result;
}

int print_line(const char* text) { return print_line_path(text, nullptr); }

void print_error(const char* what, int error_number) {
  std::fprintf(stderr, "%s: %s\n", what, std::strerror(error_number));
}

int exit_status(int status) {
  if (first_output_error == 0) return status;
  print_error("Unable to write standard output", first_output_error);
  return EXIT_FAILURE;
}

int fail(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return EXIT_FAILURE;
}

void report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = vformatted(format, args);
  va_end(args);
  print_line(line.c_str());
}

}  // namespace vellisk
