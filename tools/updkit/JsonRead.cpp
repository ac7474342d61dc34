#include "tools/updkit/JsonRead.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "base/Cp1250.h"
#include "base/Exception.h"

namespace updkit {

namespace {

const char* KindName(TJsonValue::TKind kind)
{
    switch (kind) {
    case TJsonValue::TKind::Null: return "null";
    case TJsonValue::TKind::Bool: return "boolean";
    case TJsonValue::TKind::Number: return "number";
    case TJsonValue::TKind::String: return "string";
    case TJsonValue::TKind::Array: return "array";
    case TJsonValue::TKind::Object: return "object";
    }
    return "value";
}

[[noreturn]] void WrongKind(const std::string& what, TJsonValue::TKind wanted)
{
    const bool vowel = wanted == TJsonValue::TKind::Array || wanted == TJsonValue::TKind::Object;
    throw upd::Exception(what + " must be " + (vowel ? "an " : "a ") + KindName(wanted));
}

} // namespace

class TJsonParser {
public:
    explicit TJsonParser(std::string_view text) : m_text(text)
    {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_position = 3;
    }

    TJsonValue Document()
    {
        TJsonValue value = Value(0);
        SkipSpace();
        if (m_position != m_text.size())
            Fail("text after the document");
        return value;
    }

private:
    static constexpr int kMaxDepth = 200;

    [[noreturn]] void Fail(const std::string& reason) const
    {
        int line = 1, column = 1;
        for (std::size_t i = 0; i < m_position && i < m_text.size(); ++i) {
            if (m_text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw upd::Exception("JSON error at line " + std::to_string(line) + ", column " + std::to_string(column) +
                             ": " + reason);
    }

    void SkipSpace()
    {
        while (m_position < m_text.size() &&
               (m_text[m_position] == ' ' || m_text[m_position] == '\t' || m_text[m_position] == '\n' ||
                m_text[m_position] == '\r'))
            ++m_position;
    }

    bool Consume(std::string_view word)
    {
        if (m_text.substr(m_position, word.size()) != word)
            return false;
        m_position += word.size();
        return true;
    }

    TJsonValue Value(int depth)
    {
        if (depth > kMaxDepth)
            Fail("nested too deeply");
        SkipSpace();
        if (m_position >= m_text.size())
            Fail("unexpected end of the text");
        TJsonValue value;
        const char c = m_text[m_position];
        if (c == '{') {
            value.m_kind = TJsonValue::TKind::Object;
            ++m_position;
            SkipSpace();
            if (Consume("}"))
                return value;
            for (;;) {
                SkipSpace();
                if (m_position >= m_text.size() || m_text[m_position] != '"')
                    Fail("a member name was expected");
                std::string key = String();
                SkipSpace();
                if (!Consume(":"))
                    Fail("':' was expected");
                value.m_members.emplace_back(std::move(key), Value(depth + 1));
                SkipSpace();
                if (Consume("}"))
                    return value;
                if (!Consume(","))
                    Fail("',' or '}' was expected");
            }
        }
        if (c == '[') {
            value.m_kind = TJsonValue::TKind::Array;
            ++m_position;
            SkipSpace();
            if (Consume("]"))
                return value;
            for (;;) {
                value.m_items.push_back(Value(depth + 1));
                SkipSpace();
                if (Consume("]"))
                    return value;
                if (!Consume(","))
                    Fail("',' or ']' was expected");
            }
        }
        if (c == '"') {
            value.m_kind = TJsonValue::TKind::String;
            value.m_string = String();
            return value;
        }
        if (Consume("true") || Consume("false")) {
            value.m_kind = TJsonValue::TKind::Bool;
            value.m_bool = m_text[m_position - 1] == 'e' && m_text[m_position - 2] == 'u';
            return value;
        }
        if (Consume("null"))
            return value;
        if (c == '-' || (c >= '0' && c <= '9'))
            return Number();
        Fail(std::string("unexpected character '") + c + "'");
    }

    TJsonValue Number()
    {
        const std::size_t start = m_position;
        if (m_text[m_position] == '-')
            ++m_position;
        auto digits = [this] {
            const std::size_t from = m_position;
            while (m_position < m_text.size() && m_text[m_position] >= '0' && m_text[m_position] <= '9')
                ++m_position;
            return m_position > from;
        };
        if (!digits())
            Fail("a digit was expected");
        bool integral = true;
        if (m_position < m_text.size() && m_text[m_position] == '.') {
            ++m_position;
            integral = false;
            if (!digits())
                Fail("a digit was expected");
        }
        if (m_position < m_text.size() && (m_text[m_position] == 'e' || m_text[m_position] == 'E')) {
            ++m_position;
            integral = false;
            if (m_position < m_text.size() && (m_text[m_position] == '+' || m_text[m_position] == '-'))
                ++m_position;
            if (!digits())
                Fail("a digit was expected");
        }
        const std::string literal(m_text.substr(start, m_position - start));
        TJsonValue value;
        value.m_kind = TJsonValue::TKind::Number;
        value.m_number = std::strtod(literal.c_str(), nullptr);
        if (integral) {
            errno = 0;
            const long long whole = std::strtoll(literal.c_str(), nullptr, 10);
            if (errno == 0) {
                value.m_integral = true;
                value.m_integer = whole;
            }
        }
        return value;
    }

    std::uint32_t Hex4()
    {
        if (m_text.size() - m_position < 4)
            Fail("a \\u escape needs four hexadecimal digits");
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_position++];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<std::uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<std::uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<std::uint32_t>(h - 'A' + 10);
            else
                Fail("a \\u escape needs four hexadecimal digits");
        }
        return code;
    }

    std::string String()
    {
        ++m_position; // the opening quote
        std::string out;
        for (;;) {
            if (m_position >= m_text.size())
                Fail("unterminated string");
            const char c = m_text[m_position];
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in a string");
            ++m_position;
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_position >= m_text.size())
                Fail("unterminated string");
            const char e = m_text[m_position++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = Hex4();
                if (code >= 0xD800 && code < 0xDC00 && Consume("\\u")) {
                    const std::uint32_t low = Hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        Fail("invalid surrogate pair");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code <= 0xDFFF) {
                    Fail("invalid surrogate pair");
                }
                upd::AppendUtf8(out, code);
                break;
            }
            default: Fail(std::string("unknown escape '\\") + e + "'");
            }
        }
    }

    std::string_view m_text;
    std::size_t m_position = 0;
};

bool TJsonValue::AsBool(const std::string& what) const
{
    if (m_kind != TKind::Bool)
        WrongKind(what, TKind::Bool);
    return m_bool;
}

std::int64_t TJsonValue::AsInteger(const std::string& what) const
{
    if (m_kind != TKind::Number || !m_integral)
        throw upd::Exception(what + " must be a whole number");
    return m_integer;
}

const std::string& TJsonValue::AsString(const std::string& what) const
{
    if (m_kind != TKind::String)
        WrongKind(what, TKind::String);
    return m_string;
}

const std::vector<TJsonValue>& TJsonValue::AsArray(const std::string& what) const
{
    if (m_kind != TKind::Array)
        WrongKind(what, TKind::Array);
    return m_items;
}

const TJsonValue* TJsonValue::Find(std::string_view key) const
{
    for (const auto& [name, value] : m_members) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

TJsonValue ParseJson(std::string_view text)
{
    return TJsonParser(text).Document();
}

} // namespace updkit
