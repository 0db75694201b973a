# Cross-builds the Windows programs (x86-64) on Debian with mingw-w64 (posix threads: only
# that variant's GCC has std::thread). Libraries other than the system's are looked for
# only in PLATORA_WINDOWS_PREFIX (scripts/windows/build-libraries.sh fills it). Tests run
# through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw}-windres)

# The prefix reaches the compiler checks' own configure runs too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PLATORA_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw} ${PLATORA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not hand out the Linux JACK, ALSA or RtAudio.
set(ENV{PKG_CONFIG_LIBDIR} "${PLATORA_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Every .exe then needs only Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh)
# GoogleTest cases are listed by running the test program: when ctest runs, not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
