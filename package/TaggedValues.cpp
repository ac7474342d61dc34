// Tagged value reading and writing (layout in TaggedValues.h).
#include "package/TaggedValues.h"

#include "base/Cp1250.h"
#include "base/Exception.h"

namespace upd::package {

namespace {

enum : std::uint8_t {
    kInt8 = 0x02,
    kInt16 = 0x03,
    kInt32 = 0x04,
    kString = 0x06,
    kFalse = 0x08,
    kTrue = 0x09,
    kLString = 0x0C,
    kWString = 0x12,
    kUtf8String = 0x14,
};

} // namespace

TTaggedValueReader::TTaggedValueReader(const std::uint8_t* data, std::size_t size)
    : m_data(data), m_size(data ? size : 0)
{
}

void TTaggedValueReader::Fail() const
{
    throw Exception(Format(kTaggedReadError, static_cast<long long>(m_valueStart)));
}

const std::uint8_t* TTaggedValueReader::Take(std::size_t count)
{
    if (count > m_size - m_position)
        Fail();
    const std::uint8_t* start = m_data + m_position;
    m_position += count;
    return start;
}

std::uint8_t TTaggedValueReader::Byte()
{
    return *Take(1);
}

std::uint32_t TTaggedValueReader::Unsigned(std::size_t bytes)
{
    const std::uint8_t* p = Take(bytes);
    std::uint32_t value = 0;
    for (std::size_t i = bytes; i-- > 0;)
        value = (value << 8) | p[i];
    return value;
}

std::int32_t TTaggedValueReader::ReadInteger()
{
    m_valueStart = m_position;
    switch (Byte()) {
    case kInt8:
        return static_cast<std::int8_t>(Unsigned(1));
    case kInt16:
        return static_cast<std::int16_t>(Unsigned(2));
    case kInt32:
        return static_cast<std::int32_t>(Unsigned(4));
    default:
        Fail();
    }
}

std::string TTaggedValueReader::ReadText()
{
    m_valueStart = m_position;
    switch (Byte()) {
    case kString: {
        std::size_t length = Unsigned(1);
        const std::uint8_t* p = Take(length);
        return Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(p), length));
    }
    case kLString: {
        // A length with the sign bit set is beyond any data we can hold: Take() rejects it.
        std::size_t length = Unsigned(4);
        const std::uint8_t* p = Take(length);
        return Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(p), length));
    }
    case kUtf8String: {
        // Every text read must be one the package's code page can hold again.
        std::size_t length = Unsigned(4);
        const std::uint8_t* p = Take(length);
        return KeptByCp1250(std::string_view(reinterpret_cast<const char*>(p), length));
    }
    case kWString: {
        std::size_t units = Unsigned(4);
        if (units > Remaining() / 2)
            Fail();
        const std::uint8_t* p = Take(units * 2);
        std::u16string wide(units, u'\0');
        for (std::size_t i = 0; i < units; ++i)
            wide[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        return Cp1250ToUtf8(Utf16ToCp1250(wide));
    }
    default:
        Fail();
    }
}

bool TTaggedValueReader::ReadBoolean()
{
    m_valueStart = m_position;
    return Byte() == kTrue;
}

void TTaggedValueWriter::Unsigned(std::uint32_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        m_data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void TTaggedValueWriter::WriteInteger(std::int32_t value)
{
    if (value >= INT8_MIN && value <= INT8_MAX) {
        m_data.push_back(kInt8);
        Unsigned(static_cast<std::uint32_t>(value), 1);
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
        m_data.push_back(kInt16);
        Unsigned(static_cast<std::uint32_t>(value), 2);
    } else {
        m_data.push_back(kInt32);
        Unsigned(static_cast<std::uint32_t>(value), 4);
    }
}

void TTaggedValueWriter::WriteText(const std::string& utf8)
{
    // Stored as code page 1250: letters the page lacks become '?'.
    const std::string text = Utf8ToCp1250(utf8);
    if (text.size() <= 255) {
        m_data.push_back(kString);
        Unsigned(static_cast<std::uint32_t>(text.size()), 1);
    } else {
        m_data.push_back(kLString);
        Unsigned(static_cast<std::uint32_t>(text.size()), 4);
    }
    m_data.insert(m_data.end(), text.begin(), text.end());
}

void TTaggedValueWriter::WriteBoolean(bool value)
{
    m_data.push_back(value ? kTrue : kFalse);
}

} // namespace upd::package
