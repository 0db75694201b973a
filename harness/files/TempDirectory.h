#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace platora::test {

struct CommandResult {
    int status = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline long lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// A directory of the current test's own, removed with the object.
class TempDirectory {
public:
    TempDirectory()
        : path(std::filesystem::temp_directory_path() /
               ("platora-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::create_directories(path);
    }
    ~TempDirectory() { std::filesystem::remove_all(path); }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    std::string operator/(const std::string& name) const { return (path / name).string(); }

    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(path / name, std::ios::binary) << content;
        return *this / name;
    }

#ifndef _WIN32
    // A shell command run from this directory.
    CommandResult run(const std::string& command) const {
        const std::string errPath = *this / "stderr.txt";
        CommandResult result;
        FILE* pipe = ::popen(("cd '" + path.string() + "' && " + command + " 2>'" + errPath + "'").c_str(), "r");
        if (!pipe) return result;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, got);
        const int raw = ::pclose(pipe);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.err = readFile(errPath);
        return result;
    }
#endif

    const std::filesystem::path path;
};

}  // namespace platora::test
