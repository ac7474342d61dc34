// A scratch folder for package tests, removed with the test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/File.h"

namespace upd::package::testing {

class TScratchFolder {
public:
    TScratchFolder()
    {
        std::random_device seed;
        m_path = std::filesystem::temp_directory_path() / ("updpkg-" + std::to_string(seed()));
        std::filesystem::create_directories(m_path);
    }
    ~TScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::string path = File(name);
        WriteWholeFile(path, bytes.data(), bytes.size());
        return path;
    }

private:
    std::filesystem::path m_path;
};

/// Bytes that look like a program image: runs of zeros between pseudo-random stretches.
inline std::vector<std::uint8_t> StubBytes(std::size_t size, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = (i / 64) % 3 == 0 ? 0 : static_cast<std::uint8_t>(random());
    return bytes;
}

} // namespace upd::package::testing
