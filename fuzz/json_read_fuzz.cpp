// The manifest's JSON reader on arbitrary bytes, and the JSON writer on the
// same bytes taken as a code page 1250 text: reading must fail cleanly or give
// a value, and a text written as JSON must read back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "tools/updkit/Json.h"
#include "tools/updkit/JsonRead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        updkit::ParseJson(text);
    } catch (const upd::Exception&) {
    }

    updkit::TJsonWriter json;
    json.BeginObject().Key("t").String(upd::Cp1250ToUtf8(text)).EndObject();
    const updkit::TJsonValue read = updkit::ParseJson(json.Text());
    if (upd::Utf8ToCp1250(read.Find("t")->AsString("t")) != text)
        std::abort();
    return 0;
}
