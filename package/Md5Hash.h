// MD5 digests (RFC 1321) and their text form.
//
// Every integrity decision compares digest texts: 32 upper-case hexadecimal
// digits, exactly, case-sensitively.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Path.h"

namespace upd {
class TFile;
}

namespace upd::package {

/// Receives a digest; only the first DigestSize/8 bytes are meaningful.
using THashDigest = std::array<std::uint8_t, 40>;

/// The abstract hash component.
class THashAlg {
public:
    virtual ~THashAlg() = default;
    /// The digest length in bits (0 in the abstract class).
    int DigestSize() const noexcept { return m_digestSize; }

    virtual void HashString(std::string_view text, THashDigest& digest) = 0;
    /// Digest of a file's content; false when it cannot be opened or read
    /// (another process holding it open for writing included). Never raises.
    virtual bool HashFile(const TPath& fileName, THashDigest& digest) = 0;
    /// Two upper-case hex digits per digest byte, high nibble first.
    virtual std::string DigestToText(const THashDigest& digest) const;

protected:
    int m_digestSize = 0;
};

/// The three RFC 1321 steps over a context that the caller keeps.
class THashAlgMD5Engine {
public:
    struct TContext {
        std::uint32_t State[4];
        std::uint32_t CountLow, CountHigh; // bits hashed so far
        std::uint8_t Buffer[64];
    };

    static void Init(TContext& context) noexcept;
    static void Update(TContext& context, const void* data, std::size_t size) noexcept;
    /// Writes the 16-byte digest, then clears the whole context.
    static void Final(TContext& context, std::uint8_t* digest) noexcept;
};

class THashAlgMD5 final : public THashAlg {
public:
    THashAlgMD5() { m_digestSize = 128; }

    void HashString(std::string_view text, THashDigest& digest) override;
    bool HashFile(const TPath& fileName, THashDigest& digest) override;

private:
    THashAlgMD5Engine m_engine;
};

/// The MD5 digest text of a file; the empty text when the file cannot be read,
/// which equals no stored digest.
std::string FileMD5Text(const TPath& fileName);

/// The MD5 digest text of everything an open file holds, read through that
/// very handle from its start (the file position is left at its end). Raises
/// EOSError when it cannot be read.
std::string OpenFileMD5Text(TFile& file);

/// The MD5 digest text of bytes in memory.
std::string MD5Text(const void* data, std::size_t size);

} // namespace upd::package
