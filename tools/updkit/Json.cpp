#include "tools/updkit/Json.h"

#include <cstdio>

#include "base/Cp1250.h"

namespace updkit {

std::string JsonQuote(std::string_view utf8)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
                // U+0080 .. U+009F: control codes, not characters.
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(utf8[++i]));
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

void TJsonWriter::NewLine()
{
    if (!m_pretty)
        return;
    m_out += '\n';
    m_out.append(m_hasItems.size() * 2, ' ');
}

void TJsonWriter::BeforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasItems.empty()) {
        if (m_hasItems.back())
            m_out += ',';
        m_hasItems.back() = true;
        NewLine();
    }
}

TJsonWriter& TJsonWriter::BeginObject()
{
    BeforeValue();
    m_out += '{';
    m_hasItems.push_back(false);
    return *this;
}

TJsonWriter& TJsonWriter::EndObject()
{
    bool had = m_hasItems.back();
    m_hasItems.pop_back();
    if (had)
        NewLine();
    m_out += '}';
    return *this;
}

TJsonWriter& TJsonWriter::BeginArray()
{
    BeforeValue();
    m_out += '[';
    m_hasItems.push_back(false);
    return *this;
}

TJsonWriter& TJsonWriter::EndArray()
{
    bool had = m_hasItems.back();
    m_hasItems.pop_back();
    if (had)
        NewLine();
    m_out += ']';
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view key)
{
    BeforeValue();
    m_out += JsonQuote(key);
    m_out += m_pretty ? ": " : ":";
    m_afterKey = true;
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view text)
{
    // A name the system gave as bytes need not be UTF-8: the output stays valid
    // JSON, a malformed byte written as U+FFFD.
    return Utf8String(upd::ValidUtf8(text));
}

TJsonWriter& TJsonWriter::Utf8String(std::string_view utf8)
{
    BeforeValue();
    m_out += JsonQuote(utf8);
    return *this;
}

TJsonWriter& TJsonWriter::Int(std::int64_t value)
{
    BeforeValue();
    m_out += std::to_string(value);
    return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value)
{
    BeforeValue();
    m_out += value ? "true" : "false";
    return *this;
}

TJsonWriter& TJsonWriter::Null()
{
    BeforeValue();
    m_out += "null";
    return *this;
}

std::string TJsonWriter::Text() const
{
    return m_hasItems.empty() ? m_out + "\n" : m_out;
}

} // namespace updkit
