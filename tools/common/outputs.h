// A run's output files, written under temporary names and moved into place together.
#pragma once

#include <string>
#include <vector>

namespace vellisk {

// Whether name can be written: an existing file other than a regular one or a
// folder (a device, a FIFO), or a name the system accepts (not too long, its
// folders reachable) in a folder where a file can be created. Returns "" or
// the reason, as the system words it.
std::string output_error(const std::string& name);

// Writes text whole to fd; returns "" or the reason it failed.
std::string write_all(int fd, const std::string& text);

// Writes text whole to fd, then closes it; returns "" or the reason it failed.
std::string write_text(int fd, const std::string& text);

// Each output is written to a temporary file in its own folder (named after
// it, cut short where a name of that length would be too long) and renamed
// over its name only when commit() is called, once every output of the run is
// complete: a run that fails, or is ended by a signal, leaves every existing
// file as it was and no new one. Signals wait during the renames, so that a
// run ended by one while they are made leaves every file new. A name that leads to something other than a
// regular file (a device such as /dev/null, a FIFO) is written directly.
class OutputSet {
 public:
  OutputSet() = default;
  ~OutputSet();  // removes the temporaries not committed
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Creates the file that will become name and returns its descriptor, open
  // for writing, which the caller closes; or -1, with the reason in error.
  int create(const std::string& name, std::string& error);

  // Moves every temporary into place. Returns "", or "Unable to write NAME:
  // <reason>" for the first that could not be moved; the temporaries left are
  // removed.
  std::string commit();

  // Removes the temporaries.
  void discard();

 private:
  struct Entry {
    std::string name;       // the name to write, links followed
    std::string temporary;  // empty when name is written directly
    int watch = -1;
  };
  std::vector<Entry> entries_;
};

// An output written piece by piece as a run goes, so that it is never held whole: the first
// failure is kept, and nothing more is written after it.
class StreamedOutput {
 public:
  StreamedOutput() = default;
  ~StreamedOutput();  // closes the file if still open
  StreamedOutput(const StreamedOutput&) = delete;
  StreamedOutput& operator=(const StreamedOutput&) = delete;

  // Creates the file in files; "" or the reason it cannot be.
  std::string open(OutputSet& files, const std::string& name);
  bool is_open() const { return fd_ >= 0; }
  void write(const std::string& text);
  // Closes the file; "" or "Unable to write NAME: <reason>" for the first failure.
  std::string close();

 private:
  int fd_ = -1;
  std::string name_, error_;
};

}  // namespace vellisk
