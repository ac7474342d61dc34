// The system's error classes.
//
// Every failure of the core is an Exception carrying a fixed message (Romanian,
// without diacritics, as the user sees it). Workers report errors as their class
// name followed by the message, so each class names itself.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace upd {

/// The general error class. The message is shown to the user unchanged.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message), m_message(message) {}

    /// The name reported in a worker's error notification.
    virtual const char* ClassName() const noexcept { return "Exception"; }

    /// The whole message; unlike what(), it does not end at a NUL byte that
    /// an excerpt of hostile input may carry.
    const std::string& Message() const noexcept { return m_message; }

private:
    std::string m_message;
};

/// An operating-system error: carries the system's error code and its text.
class EOSError : public Exception {
public:
    EOSError(std::uint32_t code, const std::string& message) : Exception(message), m_code(code) {}

    const char* ClassName() const noexcept override { return "EOSError"; }
    std::uint32_t Code() const noexcept { return m_code; }

private:
    std::uint32_t m_code;
};

/// Formats like the original's "%d"/"%s" messages without a printf in every caller.
std::string Format(const char* pattern, long long value);
std::string Format(const char* pattern, const std::string& value);

} // namespace upd
