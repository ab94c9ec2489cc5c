// Lines of the numeric text tables the field exchanges: microphone calibration files and .frd files.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellisk {

// What one line of a table holds.
enum class TableLineKind {
  blank,    // nothing but white space
  comment,  // starts, after white space, with one of the comment marks given
  numbers,  // numbers only
  text,     // anything else
};

struct TableLine {
  TableLineKind kind = TableLineKind::blank;
  std::vector<double> numbers;  // for kind numbers: finite, in the order written
};

// Reads one line (without its line break; a trailing carriage return is
// ignored). Fields are separated by spaces, tabs, or one comma or semicolon
// with white space around it; a number is a decimal or exponent form with a
// '.' as its decimal point whatever the locale, with an optional sign. "nan",
// "inf" and numbers beyond the double range make the line text. A comment
// mark "//" stands for two slashes; any other mark is one character.
TableLine read_table_line(std::string_view line, const std::vector<std::string_view>& marks);

// Whether every field of the line (separated by white space, commas or semicolons) starts as
// a number does (a digit, '.', '+' or '-') or is "nan", "inf" or "infinity" in any letter case:
// "100 nan", "100 0dB", "-inf 0". Such a line is a row, however bad, not a heading.
bool reads_as_row(std::string_view line);

// A table's phase in degrees unwrapped against the point before's (a step of at most 180
// degrees), without overflow however large the degrees written.
double unwrapped_degrees(double before, double degrees);

// Reads the whole file at path into text: 0, or the errno of what failed (EISDIR for a
// directory).
int read_text(const std::string& path, std::string& text);

// Calls line(text, cut) for each line of the file at path, split at '\n' (a UTF-8 byte order
// mark at its start dropped), reading it in blocks so that memory does not grow with the file;
// a line longer than max_line bytes is handed on as its first max_line bytes, with cut true.
// line returns false to stop. Returns 0, or the errno of what failed (EISDIR for a directory).
int for_each_line(const std::string& path, std::size_t max_line,
                  const std::function<bool(std::string_view line, bool cut)>& line);

// Splits text into lines at '\n', dropping a UTF-8 byte order mark at its start.
std::vector<std::string_view> table_lines(std::string_view text);

// The value of a microphone calibration file's sensitivity line, such as
// "Sens Factor =-1.2dB, SERNO: 12345" (within quotes or after a comment mark
// too; "Sens Factor", "Sens.Factor", "SensFactor" or "Sensitivity Factor" in
// any letter case, then '=' or ':' with or without spaces, the number, and an
// optional "dB"): the number in dB, or nothing when the line is not one.
std::optional<double> sens_factor_db(std::string_view line);

}  // namespace vellisk
