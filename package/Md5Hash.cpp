#include "package/Md5Hash.h"

#include <cstring>
#include <memory>

#include "base/File.h"

namespace upd::package {

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline std::uint32_t Load32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

#define UPD_MD5_STEP(f, a, b, c, d, x, t, s)                                                                           \
    a += (x) + (t);                                                                                                     \
    a += f(b, c, d);                                                                                                    \
    a = Rotl(a, s) + b;

#define UPD_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
// The two terms never share a set bit, so "+" equals "|"; the addition lets the
// compiler fold the term that does not wait for the previous step into the sum.
#define UPD_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define UPD_H(x, y, z) ((x) ^ (y) ^ (z))
#define UPD_I(x, y, z) ((y) ^ ((x) | ~(z)))

// Hashes whole 64-byte blocks.
void Transform(std::uint32_t state[4], const std::uint8_t* data, std::size_t blocks)
{
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = Load32(data + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        UPD_MD5_STEP(UPD_F, a, b, c, d, x[0], 0xd76aa478, 7)
        UPD_MD5_STEP(UPD_F, d, a, b, c, x[1], 0xe8c7b756, 12)
        UPD_MD5_STEP(UPD_F, c, d, a, b, x[2], 0x242070db, 17)
        UPD_MD5_STEP(UPD_F, b, c, d, a, x[3], 0xc1bdceee, 22)
        UPD_MD5_STEP(UPD_F, a, b, c, d, x[4], 0xf57c0faf, 7)
        UPD_MD5_STEP(UPD_F, d, a, b, c, x[5], 0x4787c62a, 12)
        UPD_MD5_STEP(UPD_F, c, d, a, b, x[6], 0xa8304613, 17)
        UPD_MD5_STEP(UPD_F, b, c, d, a, x[7], 0xfd469501, 22)
        UPD_MD5_STEP(UPD_F, a, b, c, d, x[8], 0x698098d8, 7)
        UPD_MD5_STEP(UPD_F, d, a, b, c, x[9], 0x8b44f7af, 12)
        UPD_MD5_STEP(UPD_F, c, d, a, b, x[10], 0xffff5bb1, 17)
        UPD_MD5_STEP(UPD_F, b, c, d, a, x[11], 0x895cd7be, 22)
        UPD_MD5_STEP(UPD_F, a, b, c, d, x[12], 0x6b901122, 7)
        UPD_MD5_STEP(UPD_F, d, a, b, c, x[13], 0xfd987193, 12)
        UPD_MD5_STEP(UPD_F, c, d, a, b, x[14], 0xa679438e, 17)
        UPD_MD5_STEP(UPD_F, b, c, d, a, x[15], 0x49b40821, 22)

        UPD_MD5_STEP(UPD_G, a, b, c, d, x[1], 0xf61e2562, 5)
        UPD_MD5_STEP(UPD_G, d, a, b, c, x[6], 0xc040b340, 9)
        UPD_MD5_STEP(UPD_G, c, d, a, b, x[11], 0x265e5a51, 14)
        UPD_MD5_STEP(UPD_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
        UPD_MD5_STEP(UPD_G, a, b, c, d, x[5], 0xd62f105d, 5)
        UPD_MD5_STEP(UPD_G, d, a, b, c, x[10], 0x02441453, 9)
        UPD_MD5_STEP(UPD_G, c, d, a, b, x[15], 0xd8a1e681, 14)
        UPD_MD5_STEP(UPD_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
        UPD_MD5_STEP(UPD_G, a, b, c, d, x[9], 0x21e1cde6, 5)
        UPD_MD5_STEP(UPD_G, d, a, b, c, x[14], 0xc33707d6, 9)
        UPD_MD5_STEP(UPD_G, c, d, a, b, x[3], 0xf4d50d87, 14)
        UPD_MD5_STEP(UPD_G, b, c, d, a, x[8], 0x455a14ed, 20)
        UPD_MD5_STEP(UPD_G, a, b, c, d, x[13], 0xa9e3e905, 5)
        UPD_MD5_STEP(UPD_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
        UPD_MD5_STEP(UPD_G, c, d, a, b, x[7], 0x676f02d9, 14)
        UPD_MD5_STEP(UPD_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

        UPD_MD5_STEP(UPD_H, a, b, c, d, x[5], 0xfffa3942, 4)
        UPD_MD5_STEP(UPD_H, d, a, b, c, x[8], 0x8771f681, 11)
        UPD_MD5_STEP(UPD_H, c, d, a, b, x[11], 0x6d9d6122, 16)
        UPD_MD5_STEP(UPD_H, b, c, d, a, x[14], 0xfde5380c, 23)
        UPD_MD5_STEP(UPD_H, a, b, c, d, x[1], 0xa4beea44, 4)
        UPD_MD5_STEP(UPD_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
        UPD_MD5_STEP(UPD_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
        UPD_MD5_STEP(UPD_H, b, c, d, a, x[10], 0xbebfbc70, 23)
        UPD_MD5_STEP(UPD_H, a, b, c, d, x[13], 0x289b7ec6, 4)
        UPD_MD5_STEP(UPD_H, d, a, b, c, x[0], 0xeaa127fa, 11)
        UPD_MD5_STEP(UPD_H, c, d, a, b, x[3], 0xd4ef3085, 16)
        UPD_MD5_STEP(UPD_H, b, c, d, a, x[6], 0x04881d05, 23)
        UPD_MD5_STEP(UPD_H, a, b, c, d, x[9], 0xd9d4d039, 4)
        UPD_MD5_STEP(UPD_H, d, a, b, c, x[12], 0xe6db99e5, 11)
        UPD_MD5_STEP(UPD_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
        UPD_MD5_STEP(UPD_H, b, c, d, a, x[2], 0xc4ac5665, 23)

        UPD_MD5_STEP(UPD_I, a, b, c, d, x[0], 0xf4292244, 6)
        UPD_MD5_STEP(UPD_I, d, a, b, c, x[7], 0x432aff97, 10)
        UPD_MD5_STEP(UPD_I, c, d, a, b, x[14], 0xab9423a7, 15)
        UPD_MD5_STEP(UPD_I, b, c, d, a, x[5], 0xfc93a039, 21)
        UPD_MD5_STEP(UPD_I, a, b, c, d, x[12], 0x655b59c3, 6)
        UPD_MD5_STEP(UPD_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
        UPD_MD5_STEP(UPD_I, c, d, a, b, x[10], 0xffeff47d, 15)
        UPD_MD5_STEP(UPD_I, b, c, d, a, x[1], 0x85845dd1, 21)
        UPD_MD5_STEP(UPD_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
        UPD_MD5_STEP(UPD_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        UPD_MD5_STEP(UPD_I, c, d, a, b, x[6], 0xa3014314, 15)
        UPD_MD5_STEP(UPD_I, b, c, d, a, x[13], 0x4e0811a1, 21)
        UPD_MD5_STEP(UPD_I, a, b, c, d, x[4], 0xf7537e82, 6)
        UPD_MD5_STEP(UPD_I, d, a, b, c, x[11], 0xbd3af235, 10)
        UPD_MD5_STEP(UPD_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        UPD_MD5_STEP(UPD_I, b, c, d, a, x[9], 0xeb86d391, 21)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef UPD_MD5_STEP
#undef UPD_F
#undef UPD_G
#undef UPD_H
#undef UPD_I

// Files are read in large blocks: the result is what matters, and 1 KB reads
// would spend more time in the system than in the hash.
constexpr std::size_t kReadBlock = 1 << 20;

} // namespace

void THashAlgMD5Engine::Init(TContext& context) noexcept
{
    context.State[0] = 0x67452301;
    context.State[1] = 0xefcdab89;
    context.State[2] = 0x98badcfe;
    context.State[3] = 0x10325476;
    context.CountLow = context.CountHigh = 0;
}

void THashAlgMD5Engine::Update(TContext& context, const void* data, std::size_t size) noexcept
{
    if (size == 0)
        return; // callers may pass an empty range as a null pointer
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t used = (context.CountLow >> 3) & 63;
    std::uint64_t bits = (static_cast<std::uint64_t>(context.CountHigh) << 32 | context.CountLow)
                         + (static_cast<std::uint64_t>(size) << 3);
    context.CountLow = static_cast<std::uint32_t>(bits);
    context.CountHigh = static_cast<std::uint32_t>(bits >> 32);

    if (used) {
        std::size_t room = 64 - used;
        if (size < room) {
            std::memcpy(context.Buffer + used, bytes, size);
            return;
        }
        std::memcpy(context.Buffer + used, bytes, room);
        Transform(context.State, context.Buffer, 1);
        bytes += room;
        size -= room;
    }
    if (size >= 64) {
        Transform(context.State, bytes, size / 64);
        bytes += size & ~static_cast<std::size_t>(63);
        size &= 63;
    }
    if (size)
        std::memcpy(context.Buffer, bytes, size);
}

void THashAlgMD5Engine::Final(TContext& context, std::uint8_t* digest) noexcept
{
    std::uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<std::uint8_t>(context.CountLow >> (8 * i));
        length[4 + i] = static_cast<std::uint8_t>(context.CountHigh >> (8 * i));
    }
    std::size_t used = (context.CountLow >> 3) & 63;
    static const std::uint8_t kPadding[64] = {0x80};
    Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
    Update(context, length, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(context.State[i] >> (8 * k));
    std::memset(&context, 0, sizeof context);
}

std::string THashAlg::DigestToText(const THashDigest& digest) const
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < m_digestSize / 8; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

void THashAlgMD5::HashString(std::string_view text, THashDigest& digest)
{
    THashAlgMD5Engine::TContext context;
    THashAlgMD5Engine::Init(context);
    THashAlgMD5Engine::Update(context, text.data(), text.size());
    digest.fill(0);
    THashAlgMD5Engine::Final(context, digest.data());
}

bool THashAlgMD5::HashFile(const TPath& fileName, THashDigest& digest)
{
    try {
        TFile file;
        if (!file.TryOpen(fileName, TFileMode::ReadDenyWrite))
            return false;
        auto block = std::make_unique<std::uint8_t[]>(kReadBlock);
        THashAlgMD5Engine::TContext context;
        THashAlgMD5Engine::Init(context);
        for (;;) {
            std::size_t got = file.Read(block.get(), kReadBlock);
            if (got == 0)
                break;
            THashAlgMD5Engine::Update(context, block.get(), got);
        }
        digest.fill(0);
        THashAlgMD5Engine::Final(context, digest.data());
        return true;
    } catch (...) {
        return false;
    }
}

std::string FileMD5Text(const TPath& fileName)
{
    THashAlgMD5 md5;
    THashDigest digest{};
    if (!md5.HashFile(fileName, digest))
        return std::string();
    return md5.DigestToText(digest);
}

std::string OpenFileMD5Text(TFile& file)
{
    file.Seek(0);
    auto block = std::make_unique<std::uint8_t[]>(kReadBlock);
    THashAlgMD5Engine::TContext context;
    THashAlgMD5Engine::Init(context);
    while (std::size_t got = file.Read(block.get(), kReadBlock))
        THashAlgMD5Engine::Update(context, block.get(), got);
    THashDigest digest{};
    THashAlgMD5Engine::Final(context, digest.data());
    return THashAlgMD5().DigestToText(digest);
}

std::string MD5Text(const void* data, std::size_t size)
{
    THashAlgMD5 md5;
    THashDigest digest{};
    md5.HashString(std::string_view(static_cast<const char*>(data), size), digest);
    return md5.DigestToText(digest);
}

} // namespace upd::package
