// Safety check of an untrusted tar archive before it is extracted: every member must be a
// regular file or a folder whose name stays inside the extraction folder. Pure; thread-safe.
#pragma once

#include <string_view>

namespace vorn::boards {

// True when `bytes` is an uncompressed tar archive (ustar, GNU or pax headers) whose members are
// only regular files and folders, none with an absolute name or a ".." segment, and whose headers
// are intact. Links, devices, FIFOs, sparse files and anything unparsable make it false.
bool is_safe_tar(std::string_view bytes);

}  // namespace vorn::boards
