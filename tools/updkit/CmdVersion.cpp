#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>

#include "base/File.h"
#include "package/Md5Hash.h"
#include "tools/updkit/Json.h"
#include "version/CEVersionInfo.h"
#include "version/FileOps.h"

namespace updkit {

// md5 FILE...: one "<digest>  <file>" line per file, like md5sum but with the
// system's own upper-case digest text.
int CmdMd5(const TArgs& args)
{
    if (args.empty())
        return Usage("md5 FILE...");
    int status = 0;
    for (const auto& file : args) {
        if (upd::FileOrFolderExists(file) && !upd::IsRegularFile(file)) {
            status = Fail(file + ": not a regular file");
            continue;
        }
        std::string digest = upd::package::FileMD5Text(file);
        if (digest.empty()) {
            status = Fail("cannot read " + file);
            continue;
        }
        std::printf("%s  %s\n", digest.c_str(), file.c_str());
    }
    return status;
}

// version FILE...: the fourteen version properties, size and digest of each
// file as JSON: what a signature in a package would record.
int CmdVersion(const TArgs& args)
{
    if (args.empty())
        return Usage("version FILE...");
    TJsonWriter json;
    json.BeginArray();
    for (const auto& file : args)
        CheckInput(file);
    for (const auto& file : args) {
        upd::version::TCEVersionInfo info{upd::version::TCEVersionInfo::TNoFile{}};
        info.GetInfo(file);
        auto size = upd::version::FindFileSize(file);
        json.BeginObject();
        json.Key("file").Utf8String(file);
        json.Key("size");
        if (size)
            json.Int(*size);
        else
            json.Null();
        json.Key("hash").String(upd::package::FileMD5Text(file));
        const std::pair<const char*, const std::string*> properties[] = {
            {"CompanyName", &info.CompanyName},         {"FileDescription", &info.FileDescription},
            {"FileVersion", &info.FileVersion},         {"InternalName", &info.Internalname},
            {"LegalCopyright", &info.LegalCopyright},   {"LegalTradeMarks", &info.LegalTradeMarks},
            {"OriginalFilename", &info.OriginalFilename}, {"ProductName", &info.ProductName},
            {"ProductVersion", &info.ProductVersion},   {"Comments", &info.Comments},
            {"MajorVersion", &info.MajorVersion},       {"MinorVersion", &info.MinorVersion},
            {"Release", &info.Release},                 {"Build", &info.Build},
        };
        for (const auto& [key, value] : properties)
            json.Key(key).String(*value);
        json.EndObject();
    }
    json.EndArray();
    std::fputs(json.Text().c_str(), stdout);
    return 0;
}

} // namespace updkit
