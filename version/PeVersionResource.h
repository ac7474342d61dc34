// A portable reader of the version resource of Windows PE files.
//
// Layout walked:
//   DOS header ("MZ", e_lfanew at 0x3C) -> "PE\0\0" -> COFF header (section
//   count, optional header size) -> optional header (PE32 or PE32+, data
//   directory 2 = resources) -> section table (RVA to file offset) ->
//   resource directory: type 16 (RT_VERSION) -> name 1 -> language (neutral
//   preferred, else the first) -> data entry (RVA, size) -> VS_VERSIONINFO.
//   VS_VERSIONINFO and its children are blocks of
//   {wLength, wValueLength, wType, UTF-16 key, pad to 4, value, pad to 4, children}.
//
// Every offset and length is checked against the data: damaged or hostile
// files yield "no version resource", never a read out of bounds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upd::version {

/// Random access to the bytes of a file or a buffer: fills `out` with `size`
/// bytes at `offset`; false when they are not all there.
using TReadAt = std::function<bool(std::uint64_t offset, std::size_t size, std::uint8_t* out)>;

/// The raw VS_VERSIONINFO block of a PE image, or nothing when the image has
/// no (readable) version resource. Reads only headers and the block itself.
std::optional<std::vector<std::uint8_t>> FindVersionResource(const TReadAt& read, std::uint64_t fileSize);
std::optional<std::vector<std::uint8_t>> FindVersionResource(const std::uint8_t* image, std::size_t size);

/// Queries over a VS_VERSIONINFO block, as the system's version API answers them.
class TVersionBlock {
public:
    explicit TVersionBlock(std::vector<std::uint8_t> block) : m_block(std::move(block)) {}

    /// The first entry of \VarFileInfo\Translation.
    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const;
    /// \StringFileInfo\<table>\<key> (names compared without regard to case);
    /// nothing when the table or the key is missing.
    std::optional<std::u16string> StringValue(std::string_view table, std::string_view key) const;

private:
    struct TNode {
        std::size_t start = 0, end = 0;     // the block's bytes
        std::size_t valueStart = 0;
        std::size_t childrenStart = 0;
        std::uint16_t valueLength = 0, type = 0;
        std::u16string key;
    };
    std::optional<TNode> ParseNode(std::size_t start, std::size_t limit) const;
    std::optional<TNode> Child(const TNode& parent, std::string_view key) const;

    std::vector<std::uint8_t> m_block;
};

} // namespace upd::version
