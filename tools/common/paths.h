// Where output names lead: the file an open creates, one file named twice, the standard streams.
#pragma once

#include <string>

namespace vellisk {

// Whether two names lead to one file: one existing file (same device and
// inode, through hard or symbolic links), or one name yet to be created in one
// folder, however the folder is reached (".", "..", links, bind mounts).
bool same_file(const char* first, const char* second);

// Returns "" unless the two names lead to one file, which the inverse filter
// would overwrite. Names of existing non-regular files, such as /dev/null, may
// be given twice.
std::string output_names_error(const char* sweepfile, const char* inversefile);

// Returns "" unless name is the open file of standard output or standard error
// (/dev/stdout, or the file they are redirected to), which the program's own
// text would corrupt. Character devices such as /dev/null and terminals pass.
// parameter names the argument in the message.
std::string standard_stream_error(const char* parameter, const char* name);

// The name that opening name for writing creates or truncates: name with the
// symbolic links of its last component followed, a dangling one too.
std::string final_name(const char* name);

}  // namespace vellisk
