#pragma once

#include <string>
#include <vector>

namespace platora {

// Never leaves a half-written file at `path`: the bytes go to a temporary file beside it,
// reach the disk, and only then take the name (replacing a file there). The new file gets
// the permissions a newly created one would. False with `error` set to one line on any
// failure; the temporary file is gone then.
bool writeAtomically(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error);

namespace atomicfile {
// One implementation per platform (AtomicFilePosix.cpp, AtomicFileWindows.cpp).
bool grantUsualPermissions(int fd);
bool syncToDisk(int fd);
}  // namespace atomicfile

}  // namespace platora
