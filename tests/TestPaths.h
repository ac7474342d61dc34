// Where tests find their data.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "base/Path.h"

namespace upd {

/// Paths in test failure output, as UTF-8.
inline void PrintTo(const TPath& path, std::ostream* out) { *out << '"' << path.Text() << '"'; }

} // namespace upd

namespace upd::test {

/// The build tree: UPD_BINARY_DIR when set, else the tree the test was built in.
inline std::string BinaryDir()
{
    const char* dir = std::getenv("UPD_BINARY_DIR");
    return dir && *dir ? dir : UPD_TEST_BINARY_DIR;
}

/// The source tree: UPD_SOURCE_DIR when set, else the tree the test was built from.
inline std::string SourceDir()
{
    const char* dir = std::getenv("UPD_SOURCE_DIR");
    return dir && *dir ? dir : UPD_TEST_SOURCE_DIR;
}

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

/// A fresh folder under the system's temporary folder, removed with everything
/// in it when the object goes.
class TTempDir {
public:
    TTempDir()
    {
        static std::atomic<int> counter{0};
        auto base = std::filesystem::temp_directory_path();
        for (;;) {
            m_path = base / ("upd-test-" + std::to_string(std::rand()) + "-" + std::to_string(++counter));
            if (std::filesystem::create_directory(m_path))
                break;
        }
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    /// The folder as a native path text (on Windows, ASCII test names only).
    std::string Path() const { return m_path.string(); }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

    /// Writes a file of the given bytes and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream out(m_path / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }

private:
    std::filesystem::path m_path;
};

} // namespace upd::test
