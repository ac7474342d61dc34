#include "patch/PatchHeader.h"

#include <cstring>

#include "base/Cp1250.h"
#include "base/Exception.h"

namespace upd::patch {

namespace {

constexpr const char* kInvalidValue = "Invalid property value";
constexpr const char* kReadError = "Stream read error";

} // namespace

const std::uint8_t* TQvtTaggedReader::Take(std::size_t count)
{
    if (count > m_size - m_position)
        throw Exception(TErrorKind::Truncated, kReadError);
    const std::uint8_t* at = m_data + m_position;
    m_position += count;
    return at;
}

std::uint32_t TQvtTaggedReader::Unsigned(std::size_t bytes)
{
    const std::uint8_t* at = Take(bytes);
    std::uint32_t value = 0;
    for (std::size_t i = bytes; i-- > 0;)
        value = value << 8 | at[i];
    return value;
}

std::int32_t TQvtTaggedReader::ReadInteger()
{
    switch (*Take(1)) {
    case 0x02:
        return static_cast<std::int8_t>(Unsigned(1));
    case 0x03:
        return static_cast<std::int16_t>(Unsigned(2));
    case 0x04:
        return static_cast<std::int32_t>(Unsigned(4));
    default:
        throw Exception(kInvalidValue);
    }
}

std::string TQvtTaggedReader::ReadText()
{
    switch (*Take(1)) {
    case 0x06: {
        std::size_t length = Unsigned(1);
        const auto* at = Take(length);
        return Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(at), length));
    }
    case 0x0C: {
        std::size_t length = Unsigned(4);
        const auto* at = Take(length);
        return Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(at), length));
    }
    case 0x12: {
        std::size_t units = Unsigned(4);
        if (units > (m_size - m_position) / 2)
            throw Exception(TErrorKind::Truncated, kReadError);
        const auto* at = Take(units * 2);
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i)
            text[i] = static_cast<char16_t>(at[2 * i] | at[2 * i + 1] << 8);
        return Cp1250ToUtf8(Utf16ToCp1250(text));
    }
    case 0x14: {
        std::size_t length = Unsigned(4);
        const auto* at = Take(length);
        return KeptByCp1250(std::string_view(reinterpret_cast<const char*>(at), length));
    }
    default:
        throw Exception(kInvalidValue);
    }
}

std::vector<std::uint8_t> TQvtTaggedReader::ReadRaw(std::size_t count)
{
    const auto* at = Take(count);
    return std::vector<std::uint8_t>(at, at + count);
}

void TQvtTaggedWriter::Unsigned(std::uint32_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        m_data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void TQvtTaggedWriter::WriteInteger(std::int32_t value)
{
    if (value >= -128 && value <= 127) {
        m_data.push_back(0x02);
        Unsigned(static_cast<std::uint32_t>(value), 1);
    } else if (value >= -32768 && value <= 32767) {
        m_data.push_back(0x03);
        Unsigned(static_cast<std::uint32_t>(value), 2);
    } else {
        m_data.push_back(0x04);
        Unsigned(static_cast<std::uint32_t>(value), 4);
    }
}

void TQvtTaggedWriter::WriteText(const std::string& utf8)
{
    // Stored as code page 1250: letters the page lacks become '?'.
    const std::string text = Utf8ToCp1250(utf8);
    if (text.size() <= 255) {
        m_data.push_back(0x06);
        Unsigned(static_cast<std::uint32_t>(text.size()), 1);
    } else {
        m_data.push_back(0x0C);
        Unsigned(static_cast<std::uint32_t>(text.size()), 4);
    }
    m_data.insert(m_data.end(), text.begin(), text.end());
}

void TQvtTaggedWriter::WriteRaw(const std::uint8_t* data, std::size_t count)
{
    m_data.insert(m_data.end(), data, data + count);
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines[i];
    }
    // An empty last line only counts when a line break closes it.
    if (!lines.empty() && lines.back().empty())
        text += "\r\n";
    return text;
}

} // namespace upd::patch
