// Where output names lead: the file an open creates, one file named twice, the standard streams.
#include "common/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vellisk {

namespace {

// The file an output name leads to. An existing file is its device and inode;
// a name that does not exist yet is the device and inode of its folder plus
// its last component. Symbolic links are followed first, a dangling one too,
// since opening it creates its target.
struct Identity {
  bool known = false;  // false when the name cannot be resolved; its open will say why
  bool exists = false;
  bool regular = false;  // an existing regular file
  dev_t dev = 0;
  ino_t ino = 0;
  std::string leaf;  // last component of a name that does not exist yet
};

Identity identity_of(const char* name) {
  Identity id;
  if (*name == '\0') return id;  // no file; its open fails and says so
  const std::string path = final_name(name);
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return id;  // too many links; the open will fail
    id.known = id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    return id;
  }
  if (errno != ENOENT) return id;
  // Not there yet: its folder, reached through any links, and its last component.
  const std::string::size_type slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  id.leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (stat(folder.c_str(), &st) != 0) return id;
  id.known = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  return id;
}

}  // namespace

std::string final_name(const char* name) {
  std::string path = name;
  struct stat st {};
  for (int links = 0; links < 40 && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++links) {
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) break;
    target.resize(static_cast<std::size_t>(length));
    const std::string::size_type slash = path.rfind('/');
    path = target.front() == '/' || slash == std::string::npos ? target
                                                               : path.substr(0, slash + 1) + target;
  }
  return path;
}

bool same_file(const char* first, const char* second) {
  const Identity a = identity_of(first);
  const Identity b = identity_of(second);
  return a.known && b.known && a.exists == b.exists && a.dev == b.dev && a.ino == b.ino &&
         a.leaf == b.leaf;
}

std::string output_names_error(const char* sweepfile, const char* inversefile) {
  // Devices and FIFOs may be named twice: the second file follows the first.
  const Identity a = identity_of(sweepfile);
  if (a.exists && !a.regular) return "";
  if (!same_file(sweepfile, inversefile)) return "";
  return std::string("sweepfile and inversefile (") + sweepfile + ", " + inversefile +
         ") must not name the same file: the inverse filter would overwrite the sweep";
}

std::string standard_stream_error(const char* parameter, const char* name) {
  struct stat st {};
  if (stat(name, &st) != 0 || S_ISCHR(st.st_mode)) return "";
  const struct {
    int fd;
    const char* stream;
    const char* harm;
  } streams[] = {{1, "standard output", "progress lines"}, {2, "standard error", "messages"}};
  for (const auto& s : streams) {
    struct stat open_st {};
    if (fstat(s.fd, &open_st) == 0 && open_st.st_dev == st.st_dev && open_st.st_ino == st.st_ino) {
      return std::string(parameter) + " (" + name + ") must not name the program's " + s.stream +
             ": its " + s.harm + " would be written into the samples";
    }
  }
  return "";
}

}  // namespace vellisk
