// Files of the end-to-end runs: reading and writing whole files, clearing a
// read-only file away, texts that differ from version to version, and
// waiting for a program the wizard started to let go of its file.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <string>

#include "UiDriver_win32.h"
#include "base/File.h"

namespace upd::uitest {

inline std::string Text(const std::string& path)
{
    auto bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

/// Writes a whole file, creating its folder when needed.
inline void Put(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteWholeFile(path, bytes.data(), bytes.size());
}

/// Deletes a file whatever its attributes; nothing when it is not there.
inline void Remove(const std::string& path)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

inline bool ReadOnly(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

/// `count` numbered lines after `seed`: a text file whose versions share runs.
inline std::string Lines(const std::string& seed, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += seed + " " + std::to_string(i * 31 % 97) + "\r\n";
    return text;
}

/// Waits until `path` can be written: the final page of an earlier run
/// starts the payroll program, which may still be running from it.
inline void WaitUntilWritable(const std::string& path, DWORD milliseconds)
{
    WaitUntil(
        [&] {
            HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
            if (h == INVALID_HANDLE_VALUE)
                return ::GetLastError() != ERROR_SHARING_VIOLATION;
            ::CloseHandle(h);
            return true;
        },
        milliseconds);
}

// An environment variable for the wizards started while it lives (the test
// build's hooks read theirs at start).
class TEnvironment {
public:
    TEnvironment(const char* name, int value) : m_name(name)
    {
        ::SetEnvironmentVariableA(name, std::to_string(value).c_str());
    }
    ~TEnvironment() { ::SetEnvironmentVariableA(m_name, nullptr); }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

private:
    const char* m_name;
};

} // namespace upd::uitest
