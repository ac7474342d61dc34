#include "version/CEVersionInfo.h"

#include <cstdio>

#include "base/Cp1250.h"
#include "base/File.h"
#include "version/PeVersionResource.h"
#include "version/VersionText.h"

namespace upd::version {

namespace {

class TPortableSource final : public TVersionSource {
public:
    explicit TPortableSource(std::vector<std::uint8_t> block) : m_block(std::move(block)) {}

    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const override
    {
        return m_block.Translation(language, codePage);
    }

    std::optional<std::string> StringValue(const std::string& table, const char* key) const override
    {
        auto value = m_block.StringValue(table, key);
        if (!value)
            return std::nullopt;
        return Cp1250ToUtf8(Utf16ToCp1250(*value));
    }

private:
    TVersionBlock m_block;
};

// The text before the first `separator`; `rest` keeps what follows it.
std::string Take(std::string& rest, char separator)
{
    auto at = rest.find(separator);
    std::string head = rest.substr(0, at);
    rest = at == std::string::npos ? std::string() : rest.substr(at + 1);
    return head;
}

} // namespace

void TCEVersionInfo::FillFrom(const TVersionSource* source)
{
    std::string* strings[] = {&CompanyName, &FileDescription, &FileVersion, &Internalname, &LegalCopyright,
                              &LegalTradeMarks, &OriginalFilename, &ProductName, &ProductVersion, &Comments};
    if (!source) {
        for (auto* s : strings)
            *s = kInfoNotAvailable;
        MajorVersion = MinorVersion = Release = Build = kInfoNotAvailable;
        return;
    }
    // A block without a translation table names the string table 00000000,
    // which no resource compiler writes: every key then reads empty.
    std::uint16_t language = 0, codePage = 0;
    source->Translation(language, codePage);
    char table[9];
    std::snprintf(table, sizeof table, "%04x%04x", language, codePage);
    const char* keys[] = {"CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                          "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};
    for (std::size_t i = 0; i < std::size(keys); ++i)
        *strings[i] = source->StringValue(table, keys[i]).value_or(std::string());

    char separator = FileVersion.find('.') != std::string::npos   ? '.'
                     : FileVersion.find(',') != std::string::npos ? ','
                                                                  : 0;
    if (separator == 0) {
        MajorVersion = MinorVersion = Release = Build = kInfoNotAvailable;
        return;
    }
    std::string rest = FileVersion;
    MajorVersion = Take(rest, separator);
    MinorVersion = Take(rest, separator);
    Release = Take(rest, separator);
    Build = rest;
}

void TCEVersionInfo::GetInfoPortable(const TPath& fileName)
{
    TFile file;
    if (!file.TryOpen(fileName, TFileMode::ReadShared)) {
        FillFrom(nullptr);
        return;
    }
    std::optional<std::vector<std::uint8_t>> block;
    try {
        TReadAt read = [&file](std::uint64_t offset, std::size_t size, std::uint8_t* out) {
            file.Seek(static_cast<std::int64_t>(offset));
            std::size_t done = 0;
            while (done < size) {
                std::size_t got = file.Read(out + done, size - done);
                if (got == 0)
                    return false;
                done += got;
            }
            return true;
        };
        block = FindVersionResource(read, static_cast<std::uint64_t>(file.Size()));
    } catch (const Exception&) {
        block.reset();
    }
    if (!block) {
        FillFrom(nullptr);
        return;
    }
    TPortableSource source(std::move(*block));
    FillFrom(&source);
}

std::string GetFileVersionText(const TPath& fileName)
{
    TCEVersionInfo info{TCEVersionInfo::TNoFile{}};
    info.GetInfo(fileName);
    return info.FileVersion;
}

std::string GetFileVersionTextPortable(const TPath& fileName)
{
    TCEVersionInfo info{TCEVersionInfo::TNoFile{}};
    info.GetInfoPortable(fileName);
    return info.FileVersion;
}

} // namespace upd::version
