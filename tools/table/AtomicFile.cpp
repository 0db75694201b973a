#include "AtomicFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace platora {

bool writeAtomically(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = atomicfile::grantUsualPermissions(fd);
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && atomicfile::syncToDisk(fd);
    const int writeErrno = errno;
    ok = ::close(fd) == 0 && ok;
    std::error_code renamed;  // std::filesystem replaces an existing file on Windows too
    if (ok) std::filesystem::rename(temporary, path, renamed);
    if (ok && !renamed) return true;
    error = "cannot write " + path + ": " + (ok ? renamed.message() : std::strerror(writeErrno));
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace platora
