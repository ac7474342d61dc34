// A small JSON writer for updkit's output. Texts given to it are UTF-8, as
// every text inside the tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace updkit {

class TJsonWriter {
public:
    /// Pretty-prints with two-space indentation when `pretty`.
    explicit TJsonWriter(bool pretty = true) : m_pretty(pretty) {}

    TJsonWriter& BeginObject();
    TJsonWriter& EndObject();
    TJsonWriter& BeginArray();
    TJsonWriter& EndArray();
    /// The key of the next value inside an object.
    TJsonWriter& Key(std::string_view key);

    /// A UTF-8 text; control codes escaped (see JsonQuote), a malformed byte as U+FFFD.
    TJsonWriter& String(std::string_view text);
    TJsonWriter& Utf8String(std::string_view utf8);
    TJsonWriter& Int(std::int64_t value);
    TJsonWriter& Bool(bool value);
    TJsonWriter& Null();

    /// The document so far, with a final line break once it is complete.
    std::string Text() const;

private:
    void BeforeValue();
    void NewLine();

    std::string m_out;
    std::vector<bool> m_hasItems; // one per open container
    bool m_afterKey = false;
    bool m_pretty;
};

/// A JSON string literal (with quotes) of a UTF-8 text; control codes (C0,
/// DEL and C1) are escaped as \u00XX, since they are not characters.
std::string JsonQuote(std::string_view utf8);

} // namespace updkit
