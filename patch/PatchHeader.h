// The tagged values at the head of a patch image, with the messages that a
// patch reports: a tag the read does not accept is "Invalid property value",
// data that ends inside a value is "Stream read error".
//
// Tags: 0x02 int8, 0x03 int16, 0x04 int32 (little-endian); 0x06 len8 bytes,
// 0x0C len32 bytes, 0x12 count32 UTF-16 units and 0x14 len32 UTF-8 bytes
// (both converted to code page 1250).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace upd::patch {

/// The first string of every patch image: the name and the character 0x1A.
inline const std::string kPatchMagic = std::string("QvtMultiVersionPatchFile") + '\x1A';

class TQvtTaggedReader {
public:
    TQvtTaggedReader(const std::uint8_t* data, std::size_t size) noexcept : m_data(data), m_size(size) {}

    std::int32_t ReadInteger();
    /// The text as UTF-8, whatever its stored form (code page 1250, UTF-16, UTF-8).
    std::string ReadText();
    /// `count` plain bytes (no tag).
    std::vector<std::uint8_t> ReadRaw(std::size_t count);

    std::size_t Position() const noexcept { return m_position; }

private:
    const std::uint8_t* Take(std::size_t count);
    std::uint32_t Unsigned(std::size_t bytes);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

/// Writes integers and texts in their smallest forms.
class TQvtTaggedWriter {
public:
    void WriteInteger(std::int32_t value);
    /// Stores a UTF-8 text as code page 1250.
    void WriteText(const std::string& utf8);
    void WriteRaw(const std::uint8_t* data, std::size_t count);

    const std::vector<std::uint8_t>& Data() const noexcept { return m_data; }

private:
    void Unsigned(std::uint32_t value, std::size_t bytes);

    std::vector<std::uint8_t> m_data;
};

/// The inverse of SplitLines (base/TextLines.h) for lines without line breaks.
std::string JoinLines(const std::vector<std::string>& lines);

} // namespace upd::patch
