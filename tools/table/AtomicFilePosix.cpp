#include "AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platora::atomicfile {

// mkstemp makes the file private to its owner; a table is no secret.
bool grantUsualPermissions(int fd) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fd, 0666 & ~mask) == 0;
}

bool syncToDisk(int fd) { return ::fsync(fd) == 0; }

}  // namespace platora::atomicfile
