// The system's error classes.
//
// Every failure of the core is an Exception carrying a fixed message (Romanian,
// without diacritics, as the user sees it). Workers report errors as their class
// name followed by the message, so each class names itself. Code that decides
// what to do about an error looks at its kind, never at its text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace upd {

/// What went wrong, as far as a caller decides on it.
enum class TErrorKind {
    General,    ///< a failure with its fixed message; nobody decides on it
    Truncated,  ///< data ended inside what it describes: more bytes may cure it
    OpenFailed, ///< a file could not be opened (EOSError::Reason says why)
    Internal,   ///< a broken invariant of the program itself, never of its input
};

/// The general error class. The message is shown to the user unchanged.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : Exception(TErrorKind::General, message) {}
    Exception(TErrorKind kind, const std::string& message)
        : std::runtime_error(message), m_message(message), m_kind(kind)
    {
    }

    /// The name reported in a worker's error notification.
    virtual const char* ClassName() const noexcept { return "Exception"; }

    /// The whole message; unlike what(), it does not end at a NUL byte that
    /// an excerpt of hostile input may carry.
    const std::string& Message() const noexcept { return m_message; }
    TErrorKind Kind() const noexcept { return m_kind; }

private:
    std::string m_message;
    TErrorKind m_kind;
};

/// An operating-system error: carries the system's error code and its text.
class EOSError : public Exception {
public:
    EOSError(std::uint32_t code, const std::string& message) : EOSError(code, message, TErrorKind::General, message)
    {
    }
    /// `reason` is the system's own text, without what the program was doing.
    EOSError(std::uint32_t code, const std::string& message, TErrorKind kind, const std::string& reason)
        : Exception(kind, message), m_code(code), m_reason(reason)
    {
    }

    const char* ClassName() const noexcept override { return "EOSError"; }
    std::uint32_t Code() const noexcept { return m_code; }
    /// The system's text for the code, for a caller that names the action its own way.
    const std::string& Reason() const noexcept { return m_reason; }

private:
    std::uint32_t m_code;
    std::string m_reason;
};

/// Formats like the original's "%d"/"%s" messages without a printf in every caller.
std::string Format(const char* pattern, long long value);
std::string Format(const char* pattern, const std::string& value);

} // namespace upd
