// Tagged values: the byte encoding of integers, texts and booleans shared by
// the update description and the patch header.
//
// Every value is one tag byte followed by its payload (integers little-endian):
//   0x02 int8 | 0x03 int16 | 0x04 int32               integers
//   0x06 len8 bytes | 0x0C len32 bytes                 texts (code page 1250)
//   0x12 count32 UTF-16 units | 0x14 len32 UTF-8 bytes texts, read as what code page 1250 keeps
//
// Texts are UTF-8 in memory: read texts are converted from their stored form,
// written ones to code page 1250.
//   0x08 false | 0x09 true                             booleans
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace upd::package {

/// The message of every tagged value read error.
inline constexpr const char* kTaggedReadError = "Descrierea actualizarii este deteriorata (pozitia %d)";

/// Reads tagged values from a byte range it does not own.
///
/// Data that ends inside a value, a tag the read does not accept, or a length
/// beyond the remaining data raises upd::Exception with kTaggedReadError filled
/// with the offset of the value's tag byte. Lengths are checked against the data
/// before any text is allocated.
class TTaggedValueReader {
public:
    TTaggedValueReader(const std::uint8_t* data, std::size_t size);

    /// Accepts 0x02, 0x03 and 0x04.
    std::int32_t ReadInteger();
    /// Accepts 0x06, 0x0C, 0x12 and 0x14; gives the text as UTF-8.
    std::string ReadText();
    /// True only for 0x09; any other tag byte reads as false (it has no payload).
    bool ReadBoolean();

    /// Offset of the next tag byte from the start of the data.
    std::size_t Position() const { return m_position; }
    /// Bytes left after Position().
    std::size_t Remaining() const { return m_size - m_position; }

private:
    [[noreturn]] void Fail() const;
    std::uint8_t Byte();
    std::uint32_t Unsigned(std::size_t bytes);
    const std::uint8_t* Take(std::size_t count);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    std::size_t m_valueStart = 0;
};

/// Writes tagged values in their smallest forms: integers as 0x02, 0x03 or
/// 0x04, texts of up to 255 bytes (in code page 1250) as 0x06 and longer ones as 0x0C.
class TTaggedValueWriter {
public:
    void WriteInteger(std::int32_t value);
    void WriteText(const std::string& utf8);
    void WriteBoolean(bool value);

    const std::vector<std::uint8_t>& Data() const { return m_data; }

private:
    void Unsigned(std::uint32_t value, std::size_t bytes);

    std::vector<std::uint8_t> m_data;
};

} // namespace upd::package
