// Inflating a patch file: one zlib stream, read in blocks, whose inflated bytes
// are the patch image.
//
// Every reader here gives zlib's verdicts: damaged data (a bad header, bad
// deflate data, a wrong check value) raises "Error"; input that ends early
// yields what was inflated until then; bytes after the end of the stream are
// ignored; more inflated bytes than a reader's `maxSize` raise kImageTooLarge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/File.h"
#include "base/Path.h"

namespace upd::patch {

/// Opens a patch file for reading; a failure raises EOSError with the text
/// "Cannot open file \"<path>\". <the system's reason>".
TFile OpenPatchFile(const TPath& path);

/// Inflates one zlib stream from a file, in 64 KB reads, into a vector.
std::vector<std::uint8_t> InflatePatchFile(const std::string& path, std::size_t maxSize = SIZE_MAX);
/// The same from bytes in memory.
std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size, std::size_t maxSize = SIZE_MAX);

/// A zlib stream inflated in steps, fed block by block, that can stop keeping
/// what it inflates: loading decodes the first part of an image while it
/// inflates, and once the codes tell how many bytes the patch uses, the rest
/// only passes through zlib for its verdict.
class TQvtInflater {
public:
    explicit TQvtInflater(std::size_t maxSize);
    ~TQvtInflater();
    TQvtInflater(const TQvtInflater&) = delete;
    TQvtInflater& operator=(const TQvtInflater&) = delete;

    /// The next block of input, once the last one is used up.
    void Input(const std::uint8_t* data, std::size_t size);
    bool InputUsed() const noexcept;
    /// Inflates until the input is used up or `pauseAt` bytes are kept; false
    /// once the stream has ended.
    bool Run(std::size_t pauseAt = SIZE_MAX);
    /// Keeps no more than the first `size` bytes; the rest is only checked.
    void Keep(std::size_t size);
    /// The inflated bytes kept so far.
    const std::uint8_t* Data() const noexcept { return m_image.data(); }
    std::size_t Size() const noexcept { return m_used; }
    /// Hands the image over (its room beyond the inflated bytes dropped).
    std::vector<std::uint8_t> Take();

private:
    struct TStream;
    static constexpr std::size_t kChunkSize = 1 << 20;
    std::unique_ptr<TStream> m_zs;
    std::size_t m_maxSize;
    std::size_t m_keep = SIZE_MAX;
    std::size_t m_used = 0;
    std::uint64_t m_total = 0;
    std::vector<std::uint8_t> m_image;
    std::vector<std::uint8_t> m_scratch;
};

/// A block of bytes grown with realloc: large blocks then grow in place or are
/// moved by remapping their pages, so that a growing image is never held
/// twice, and room not yet written costs no memory.
class TQvtGrowBuffer {
public:
    TQvtGrowBuffer() = default;
    ~TQvtGrowBuffer();
    TQvtGrowBuffer(const TQvtGrowBuffer&) = delete;
    TQvtGrowBuffer& operator=(const TQvtGrowBuffer&) = delete;

    /// Raises std::bad_alloc when the room cannot be had.
    void Reserve(std::size_t capacity);
    /// Once full, doubles the room, but never past one byte more than
    /// `maxSize` (enough to tell that an image is too large).
    void GrowWhenFull(std::size_t maxSize);
    std::uint8_t* Data() const noexcept { return m_data; }
    std::size_t Capacity() const noexcept { return m_capacity; }
    /// Bytes in use from the start.
    std::size_t Size = 0;

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_capacity = 0;
};

/// Inflates the whole zlib stream of `file`, from its start, straight into
/// `image`, whose size it sets. Where the build has a faster inflater, that
/// one runs first; any stream it does not see end cleanly is inflated again
/// by zlib, so every verdict is zlib's. When it raises, `image` holds what
/// zlib inflated until then.
void InflatePatchImage(TFile& file, std::size_t maxSize, TQvtGrowBuffer& image);

} // namespace upd::patch
