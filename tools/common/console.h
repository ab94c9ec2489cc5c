// Progress lines on standard output, each flushed at once so a pipe shows it as it comes.
#pragma once

#include <string>

#include "format/formatted.h"

namespace vellisk {

// Writes text, then path (when not null), then a newline; flushes standard output.
// Returns the result of the formatted write.
int print_line_path(const char* text, const char* path);

// print_line_path with no path.
int print_line(const char* text);

// Flushes standard output, keeping the first failure to write it for output_error().
void flush_output();

// The system error number of the first failed write to standard output, or 0.
int output_error();

// Records a failure of standard output found outside the console operations
// (a closed descriptor, say), unless one was recorded before.
void fail_output(int error_number);

// Writes "what: <system error text>" on standard error.
void print_error(const char* what, int error_number);

// The status a run ends with: status, unless standard output could not be
// written, which is a failure even when the files are complete: then 1, after
// "Unable to write standard output: <reason>" on standard error.
int exit_status(int status);

// Writes line on standard error; returns EXIT_FAILURE, for `return fail(...)`.
int fail(const std::string& line);

// Prints one formatted line of a report on standard output, flushed at once.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vellisk
