#include "AtomicFile.h"

#include <io.h>

namespace platora::atomicfile {

bool grantUsualPermissions(int /*fd*/) { return true; }  // no permission bits to widen

bool syncToDisk(int fd) { return ::_commit(fd) == 0; }

}  // namespace platora::atomicfile
