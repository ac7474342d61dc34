// The update description: what one package does.
//
// Stored right after the package header as tagged values (TaggedValues.h), in
// this order, with no names or end markers (a list is an integer count, then
// its items):
//   TUpdate        Title, Description, tag text (one text), TagFileName,
//                  list of TMustHaveSet, list of TPatchSet, list of TCopySet
//   TMustHaveSet   list of TFileSignature
//   TFileSignature FileName, Hash, Size, Version, Flag
//   TPatchSet      OldFiles (as a TMustHaveSet), Segment, NewVersion, NewSize, NewHash, TargetFileName
//   TUpdateData    Reserved, Hash, Size, Offset
//   TCopySet       Version, Size, Hash, FileName, Segment
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Path.h"
#include "package/FileSignature.h"

namespace upd::package {

class TTaggedValueReader;
class TTaggedValueWriter;

/// An ordered list that owns its items; they are destroyed in list order.
template <class T>
class TOwnedList {
public:
    TOwnedList() = default;
    TOwnedList(TOwnedList&&) noexcept = default;
    TOwnedList& operator=(TOwnedList&&) noexcept = default;
    ~TOwnedList() { Clear(); }

    /// Appends and takes ownership; returns the item.
    T& Add(std::unique_ptr<T> item)
    {
        m_items.push_back(std::move(item));
        return *m_items.back();
    }
    int Count() const { return static_cast<int>(m_items.size()); }
    /// The i-th item, 0-based; upd::Exception "List index out of bounds (i)" when i is not an index of the list.
    T& Items(int i) { return *m_items[Checked(i)]; }
    const T& Items(int i) const { return *m_items[Checked(i)]; }
    /// Destroys the items in list order.
    void Clear()
    {
        for (auto& item : m_items)
            item.reset();
        m_items.clear();
    }

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::size_t Checked(int i) const
    {
        if (i < 0 || i >= Count())
            throw Exception(Format("List index out of bounds (%d)", i));
        return static_cast<std::size_t>(i);
    }

    std::vector<std::unique_ptr<T>> m_items;
};

/// Where one piece of the patch data lies.
struct TUpdateData {
    std::int32_t Reserved = 0; ///< stored and read, not used
    std::string Hash;          ///< MD5 digest text of the segment's bytes
    std::int32_t Size = 0;     ///< length in bytes
    std::int32_t Offset = 0;   ///< counted from the end of the update description in the patch data

    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// Alternative states of one file; satisfied when any of them matches (first in list order counts).
class TMustHaveSet : public TOwnedList<TFileSignature> {
public:
    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// One file to patch. OldFiles' order gives the version index of the multi-version patch.
struct TPatchSet {
    TMustHaveSet OldFiles;
    TUpdateData Segment;
    std::string NewVersion;
    std::int32_t NewSize = 0; ///< stored, not checked
    std::string NewHash;
    std::string TargetFileName;

    // Run-time fields, never stored.
    std::string SourceFileName;  ///< set by validation: FileName of the matching old signature
    std::int32_t SourceIndex = 0; ///< set by validation: its 0-based position in OldFiles
    TPath PatchedFileName;       ///< set by the update: the temporary file with the new content

    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// One file to copy (read, never carried out).
struct TCopySet {
    std::string Version;
    std::int32_t Size = 0;
    std::string Hash;
    std::string FileName;
    TUpdateData Segment;

    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

class TMustHaveSetList : public TOwnedList<TMustHaveSet> {
public:
    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

class TPatchSetList : public TOwnedList<TPatchSet> {
public:
    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

class TCopySetList : public TOwnedList<TCopySet> {
public:
    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// The root of the description.
class TUpdate {
public:
    TMustHaveSetList MustHaveSets;
    TPatchSetList PatchSets;
    TCopySetList CopySets;
    std::string Title;       ///< letter codes
    std::string Description; ///< letter codes, star brackets, tag markup
    std::vector<std::string> TagText; ///< one entry per line, without line breaks
    std::string TagFileName;

    /// Reads the whole stored form. A tag that is not accepted, data that ends
    /// early or a negative list count raises the tagged value read error; what
    /// was added before the failure stays owned by its list.
    void ReadFrom(TTaggedValueReader& reader);
    /// Writes the stored form; the tag text is written with CR LF after every entry.
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// Every entry followed by CR LF (SplitLines, base/TextLines.h, reads it back).
std::string JoinLines(const std::vector<std::string>& lines);

/// The tag text in the builder's line format: the release line, the date line,
/// a blank line, one block per signature of every must-have set (in order), and
/// a last line holding only the byte 0x1A.
std::vector<std::string> MakeTagText(const std::string& release, const std::string& releaseDate,
                                     const TMustHaveSetList& mustHaveSets);

} // namespace upd::package
