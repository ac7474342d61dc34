#include "patch/PatchInflate.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zlib.h>
#ifdef UPD_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "base/Exception.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

namespace {

// A zlib stream being inflated, with the checks every reader of a patch image
// makes at each step.
class TZlibInflation {
public:
    TZlibInflation()
    {
        std::memset(&m_zs, 0, sizeof m_zs);
        if (inflateInit(&m_zs) != Z_OK)
            throw Exception("Error");
    }
    ~TZlibInflation() { inflateEnd(&m_zs); }
    TZlibInflation(const TZlibInflation&) = delete;
    TZlibInflation& operator=(const TZlibInflation&) = delete;

    void Input(const std::uint8_t* data, std::size_t size)
    {
        m_zs.next_in = const_cast<Bytef*>(data);
        m_zs.avail_in = static_cast<uInt>(size);
    }
    bool InputUsed() const noexcept { return m_zs.avail_in == 0; }

    /// Inflates into at most `room` bytes at `out` and returns how many it
    /// made, counted into `total`: an image past `maxSize` is refused, damaged
    /// data (or input that makes no progress) raises "Error". `ended` tells
    /// whether the stream has ended. `kept` (if given) counts the bytes made
    /// even when the step raises, so that they can still be looked at.
    std::size_t Step(std::uint8_t* out, std::size_t room, std::uint64_t& total, std::size_t maxSize, bool& ended,
                     std::size_t* kept = nullptr)
    {
        room = std::min<std::size_t>(room, UINT32_MAX);
        m_zs.next_out = out;
        m_zs.avail_out = static_cast<uInt>(room);
        uInt before = m_zs.avail_in;
        int rc = inflate(&m_zs, Z_NO_FLUSH);
        std::size_t made = room - m_zs.avail_out;
        total += made;
        if (kept)
            *kept += made;
        if (total > maxSize)
            throw Exception(Format(kImageTooLarge, static_cast<long long>(maxSize)));
        ended = rc == Z_STREAM_END;
        if (!ended && rc != Z_OK && rc != Z_BUF_ERROR)
            throw Exception("Error");
        if (!ended && made == 0 && m_zs.avail_in == before)
            throw Exception("Error"); // no progress: never spin on it
        return made;
    }

private:
    z_stream m_zs;
};

// The engine names the file its own way, followed by the system's text alone.
std::string OpenErrorText(const std::string& path, const EOSError& error)
{
    return "Cannot open file \"" + path + "\". " + error.Reason();
}

// Executables' patches inflate to about twice their size; a first guess that
// is too small costs one remapping per doubling.
void ReserveImage(TFile& file, std::size_t maxSize, TQvtGrowBuffer& image)
{
    const std::int64_t packed = file.Size();
    const auto most = static_cast<std::int64_t>(std::min<std::size_t>(maxSize, INT64_MAX - 1)) + 1;
    image.Reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(3 * packed, 64 * 1024, most)));
}

void InflateWithZlib(TFile& file, std::size_t maxSize, TQvtGrowBuffer& image)
{
    TZlibInflation zs;
    std::vector<std::uint8_t> block(256 * 1024);
    std::uint64_t total = 0;
    for (;;) {
        if (zs.InputUsed()) {
            std::size_t got = file.Read(block.data(), block.size());
            if (got == 0)
                return;
            zs.Input(block.data(), got);
        }
        image.GrowWhenFull(maxSize);
        bool ended = false;
        zs.Step(image.Data() + image.Size, image.Capacity() - image.Size, total, maxSize, ended, &image.Size);
        if (ended)
            return;
    }
}

#ifdef UPD_HAVE_ISAL
// ISA-L's inflater, about twice as fast as zlib's. It only ever answers for a
// stream that ends cleanly with the right check value: anything else (damage,
// an early end, a preset dictionary, an image over the limit, a header zlib
// would refuse) returns false, and zlib then gives the verdict.
bool InflateWithIsal(TFile& file, std::size_t maxSize, TQvtGrowBuffer& image)
{
    constexpr std::size_t kBlockSize = 256 * 1024; // read from the file at a time
    std::vector<std::uint8_t> block(kBlockSize);
    std::size_t got = file.Read(block.data(), kBlockSize);
    if (got < 2)
        return false;
    const unsigned cmf = block[0], flg = block[1];
    if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20) != 0)
        return false;
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_ZLIB;
    state->next_in = block.data();
    state->avail_in = static_cast<std::uint32_t>(got);
    for (;;) {
        image.GrowWhenFull(maxSize);
        const std::size_t room = std::min<std::size_t>(image.Capacity() - image.Size, UINT32_MAX);
        state->next_out = image.Data() + image.Size;
        state->avail_out = static_cast<std::uint32_t>(room);
        const int rc = isal_inflate(state.get());
        image.Size += room - state->avail_out;
        if (rc != ISAL_DECOMP_OK || image.Size > maxSize)
            return false;
        if (state->block_state == ISAL_BLOCK_FINISH)
            return true;
        if (state->avail_out == 0)
            continue; // more may come of the same input
        if (state->avail_in != 0)
            return false; // neither input nor room was the limit: never spin on it
        got = file.Read(block.data(), kBlockSize);
        if (got == 0)
            return false;
        state->next_in = block.data();
        state->avail_in = static_cast<std::uint32_t>(got);
    }
}
#endif

} // namespace

TFile OpenPatchFile(const TPath& path)
{
    try {
        return TFile(path, TFileMode::ReadShared);
    } catch (const EOSError& e) {
        throw EOSError(e.Code(), OpenErrorText(path.Text(), e), e.Kind(), e.Reason());
    }
}

struct TQvtInflater::TStream : TZlibInflation {};

TQvtInflater::TQvtInflater(std::size_t maxSize) : m_zs(std::make_unique<TStream>()), m_maxSize(maxSize) {}

TQvtInflater::~TQvtInflater() = default;

void TQvtInflater::Input(const std::uint8_t* data, std::size_t size) { m_zs->Input(data, size); }

bool TQvtInflater::InputUsed() const noexcept { return m_zs->InputUsed(); }

bool TQvtInflater::Run(std::size_t pauseAt)
{
    while (!m_zs->InputUsed()) {
        if (m_used >= pauseAt && m_used < m_keep)
            return true;
        // Bytes past what is kept still pass through (zlib checks them), into
        // a scratch block that is written over again and again.
        std::uint8_t* out;
        std::size_t room;
        if (m_used < m_keep) {
            if (m_used == m_image.size())
                m_image.resize(std::min(m_keep, std::max<std::size_t>(2 * m_image.size(), kChunkSize)));
            out = m_image.data() + m_used;
            room = std::min(m_image.size(), pauseAt == SIZE_MAX ? SIZE_MAX : std::max(pauseAt, m_used + 1)) - m_used;
        } else {
            if (m_scratch.empty())
                m_scratch.resize(kChunkSize);
            out = m_scratch.data();
            room = m_scratch.size();
        }
        bool ended = false;
        std::size_t made = m_zs->Step(out, room, m_total, m_maxSize, ended);
        if (m_used < m_keep)
            m_used += made;
        if (ended)
            return false;
    }
    return true;
}

void TQvtInflater::Keep(std::size_t size)
{
    m_keep = size;
    if (m_used > size)
        m_used = size;
    m_image.resize(std::max(m_used, std::min(m_image.size(), size)));
}

std::vector<std::uint8_t> TQvtInflater::Take()
{
    m_image.resize(m_used);
    m_image.shrink_to_fit();
    return std::move(m_image);
}

std::vector<std::uint8_t> InflatePatchFile(const std::string& path, std::size_t maxSize)
{
    TFile file = OpenPatchFile(path);
    TQvtInflater inflater(maxSize);
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        std::size_t got = file.Read(block.data(), block.size());
        if (got == 0)
            break;
        inflater.Input(block.data(), got);
        if (!inflater.Run())
            break;
    }
    return inflater.Take();
}

std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size, std::size_t maxSize)
{
    TQvtInflater inflater(maxSize);
    for (std::size_t done = 0; done < size;) {
        // zlib counts its input in 32 bits.
        std::size_t part = std::min<std::size_t>(size - done, UINT32_MAX);
        inflater.Input(data + done, part);
        done += part;
        if (!inflater.Run())
            break;
    }
    return inflater.Take();
}

TQvtGrowBuffer::~TQvtGrowBuffer() { std::free(m_data); }

void TQvtGrowBuffer::Reserve(std::size_t capacity)
{
    if (capacity <= m_capacity)
        return;
    void* grown = std::realloc(m_data, capacity);
    if (!grown)
        throw std::bad_alloc();
    m_data = static_cast<std::uint8_t*>(grown);
    m_capacity = capacity;
}

void TQvtGrowBuffer::GrowWhenFull(std::size_t maxSize)
{
    if (Size == m_capacity)
        Reserve(Size > maxSize / 2 ? maxSize + 1 : 2 * Size);
}

void InflatePatchImage(TFile& file, std::size_t maxSize, TQvtGrowBuffer& image)
{
    image.Size = 0;
    ReserveImage(file, maxSize, image);
#ifdef UPD_HAVE_ISAL
    if (InflateWithIsal(file, maxSize, image))
        return;
    image.Size = 0;
    file.Seek(0);
#endif
    InflateWithZlib(file, maxSize, image);
}

} // namespace upd::patch
