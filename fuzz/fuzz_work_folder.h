// A private working folder for the files a fuzz target writes, named after the target and
// the process. In memory where the system has /dev/shm: rewriting a file on a disk at every
// input can make each input wait for the disk.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>

inline std::filesystem::path FuzzWorkFolder(const std::string& name) {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || access(base.c_str(), W_OK) != 0)
        base = std::filesystem::temp_directory_path();
    return base / (name + "_" + std::to_string(getpid()));
}
