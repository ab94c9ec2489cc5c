// Console output operations.
#include "app/console.h"

#include <cstdio>
#include <cstring>

int print_line_path(const char* text, const char* path) {
  const int result =
      path != nullptr ? std::printf("%s%s\n", text, path) : std::printf("%s\n", text);
  std::fflush(stdout);
  return result;
}

int print_line(const char* text) { return print_line_path(text, nullptr); }

void print_error(const char* what, int error_number) {
  std::fprintf(stderr, "%s: %s\n", what, std::strerror(error_number));
}
