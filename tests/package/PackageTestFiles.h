// A scratch folder for package tests, removed with the test.
#pragma once

#include <algorithm>
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

/// StubBytes with the headers that locate a certificate table: DOS header, PE
/// signature, COFF header and an optional header (PE32+, or PE32) with 16 data
/// directories, all empty.
inline std::vector<std::uint8_t> PeStubBytes(std::size_t size, bool pe32Plus = true, unsigned seed = 1)
{
    std::vector<std::uint8_t> bytes = StubBytes(size, seed);
    std::fill(bytes.begin(), bytes.begin() + 0x200, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x80;
    const std::uint8_t pe[] = {'P', 'E', 0, 0, 0x64, 0x86};
    std::copy(std::begin(pe), std::end(pe), bytes.begin() + 0x80);
    const std::size_t directories = pe32Plus ? 112 : 96;
    bytes[0x80 + 20] = static_cast<std::uint8_t>(directories + 16 * 8);
    bytes[0x80 + 24] = 0x0B;
    bytes[0x80 + 25] = pe32Plus ? 0x02 : 0x01;
    bytes[0x80 + 24 + directories - 4] = 16;
    return bytes;
}

/// Signs as a signer does after the package was appended: zeros up to a
/// multiple of 8 bytes, then a certificate table of `tableSize` bytes that the
/// security directory names.
inline void AppendCertificateTable(std::vector<std::uint8_t>& exe, std::size_t tableSize, bool pe32Plus = true)
{
    exe.resize((exe.size() + 7) / 8 * 8);
    const std::size_t entry = 0x80 + 24 + (pe32Plus ? 112 : 96) + 4 * 8;
    const std::uint32_t fields[] = {static_cast<std::uint32_t>(exe.size()), static_cast<std::uint32_t>(tableSize)};
    for (int f = 0; f < 2; ++f)
        for (int b = 0; b < 4; ++b)
            exe[entry + 4 * f + b] = static_cast<std::uint8_t>(fields[f] >> (8 * b));
    for (std::size_t i = 0; i < tableSize; ++i)
        exe.push_back(static_cast<std::uint8_t>(0x30 + i % 40));
}

} // namespace upd::package::testing
