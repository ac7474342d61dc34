// Where a patch's instructions read old bytes from and write new bytes to.
// The file classes buffer both sides, so a patch of many short instructions
// costs few system calls, and the old file is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/File.h"

namespace upd::patch {

class TQvtPatchOutput {
public:
    virtual ~TQvtPatchOutput() = default;
    virtual void Write(const std::uint8_t* data, std::size_t count) = 0;
    /// Drops everything written, to write again from the first byte; false
    /// when this output cannot.
    virtual bool Restart() { return false; }
    /// An output for the bytes from `offset` on (counted from this output's
    /// first byte), for another thread to write while this one writes those
    /// before them; null when this output cannot have one. What it holds back
    /// when it is destroyed without a Flush is dropped.
    virtual std::unique_ptr<TQvtPatchOutput> Beside(std::int64_t /*offset*/) { return nullptr; }
    /// Writes out whatever is held back.
    virtual void Flush() {}
};

/// Collects the output in memory.
class TQvtMemoryOutput : public TQvtPatchOutput {
public:
    void Write(const std::uint8_t* data, std::size_t count) override { Data.insert(Data.end(), data, data + count); }
    bool Restart() override
    {
        Data.clear();
        return true;
    }
    std::vector<std::uint8_t> Data;
};

/// Writes to an open file, from its position at creation, through a buffer;
/// Flush (or destruction) empties it. Every write names its place in the
/// file, so outputs beside it may write other parts of the file at the same
/// time; the file's position afterwards is unspecified.
class TQvtFileOutput : public TQvtPatchOutput {
public:
    explicit TQvtFileOutput(TFile& file) : TQvtFileOutput(file, file.Position(), true) {}
    ~TQvtFileOutput() override;
    void Write(const std::uint8_t* data, std::size_t count) override;
    /// Cuts the file back to where the output started.
    bool Restart() override;
    std::unique_ptr<TQvtPatchOutput> Beside(std::int64_t offset) override;
    void Flush() override;

private:
    TQvtFileOutput(TFile& file, std::int64_t start, bool flushAtEnd)
        : m_file(file), m_start(start), m_flushAtEnd(flushAtEnd), m_buffer(new std::uint8_t[kBufferSize])
    {
    }

    static constexpr std::size_t kBufferSize = 256 * 1024;
    TFile& m_file;
    std::int64_t m_start;
    bool m_flushAtEnd;
    std::int64_t m_written = 0; // bytes written to the file from m_start on
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_used = 0;
};

/// The old file, read in runs.
class TQvtPatchSource {
public:
    virtual ~TQvtPatchSource() = default;
    virtual std::int64_t Size() const = 0;
    /// Writes `count` bytes from `position` to the output; the caller has
    /// checked that they lie inside the file.
    virtual void CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output) = 0;
    /// The rebuild has given `bytes` of memory back: the source may use as
    /// much more for itself.
    virtual void MayUseMore(std::size_t /*bytes*/) {}
    /// A reader of the same file for another thread, with whatever it keeps
    /// of its own; null when this source cannot have one.
    virtual std::unique_ptr<TQvtPatchSource> Beside() { return nullptr; }
};

class TQvtMemorySource : public TQvtPatchSource {
public:
    TQvtMemorySource(const std::uint8_t* data, std::size_t size) noexcept : m_data(data), m_size(size) {}
    explicit TQvtMemorySource(const std::vector<std::uint8_t>& data) noexcept : TQvtMemorySource(data.data(), data.size()) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_size); }
    void CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output) override;
    std::unique_ptr<TQvtPatchSource> Beside() override { return std::make_unique<TQvtMemorySource>(m_data, m_size); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

/// An open file read through a small cache of blocks: runs that follow each
/// other, or come back to a recently used part of the file (the usual case),
/// cost no read at all. The cache starts at 2 MB whatever the file's size and
/// grows to at most 8 MB as the rebuild gives memory back. It is
/// set-associative with least-recently-used replacement, so runs that
/// alternate between distant parts of the file do not evict each other.
/// A file no larger than the cache's first size is mapped whole at the first
/// run instead (or, where it cannot be, read whole into the cache's room):
/// no read at all, or one in place of one for each of its blocks.
class TQvtFileSource : public TQvtPatchSource {
public:
    explicit TQvtFileSource(TFile& file);
    std::int64_t Size() const override { return m_size; }
    void CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output) override;
    void MayUseMore(std::size_t bytes) override;
    /// Another cache over the same file (whose reads name their place, so
    /// threads may read it at once); the two together start with less room
    /// than this one had. A file read whole is read now and shared as it is.
    std::unique_ptr<TQvtPatchSource> Beside() override;

private:
    static constexpr std::size_t kBlockSize = 4 * 1024;
    static constexpr std::size_t kSets = 64;
    static constexpr std::size_t kFirstWays = 8;
    static constexpr std::size_t kMaxWays = 32;
    // Ways of each of two caches over one file before memory is given back:
    // together less than one cache's, as blocks that both threads read are
    // held twice (with four each the peak grew by about 0.4 MB, as both fill
    // before the first literal bytes are given back).
    static constexpr std::size_t kBesideWays = 3;
    static constexpr std::size_t kWholeUpTo = kSets * kFirstWays * kBlockSize;
    void ReadWhole();
    /// The cached block, read on a miss.
    const std::uint8_t* Block(std::int64_t block);
    /// Block(), but the block of the run before (the usual case: a run goes
    /// on from where the last one started) is found without a search.
    const std::uint8_t* Recent(std::int64_t block)
    {
        if (block != m_recentBlock)
            return Block(block);
        m_used[m_recentSlot] = ++m_clock;
        return m_blocks.get() + m_recentSlot * kBlockSize;
    }

    TFile& m_file;
    std::int64_t m_size;
    std::size_t m_firstWays = kFirstWays; // ways of each set before any memory is given back
    std::size_t m_ways = kFirstWays;      // ways of each set in use
    std::size_t m_allowed = 0;       // bytes the rebuild gave back
    std::unique_ptr<std::uint8_t[]> m_blocks;
    std::vector<std::int64_t> m_tags;  // the block each slot holds, or -1
    std::vector<std::uint64_t> m_used; // when each slot was last used
    std::uint64_t m_clock = 0;
    std::int64_t m_recentBlock = -1; // the block Block() gave last, and its slot
    std::size_t m_recentSlot = 0;
    // A small file, mapped whole or read whole into the blocks' room.
    std::unique_ptr<TFileView> m_view;
    const std::uint8_t* m_wholeData = nullptr;
};

} // namespace upd::patch
