// The update description reader on arbitrary bytes: it must fail cleanly or read
// a description that writes back to a stable stored form.
#include <cstdint>
#include <cstdlib>

#include "base/Exception.h"
#include "package/TaggedValues.h"
#include "package/Update.h"

using namespace upd::package;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TUpdate update;
    try {
        TTaggedValueReader reader(data, size);
        update.ReadFrom(reader);
        if (reader.Position() > size)
            std::abort();
    } catch (const upd::Exception&) {
        return 0;
    }
    TTaggedValueWriter first;
    update.WriteTo(first);
    TTaggedValueReader again(first.Data().data(), first.Data().size());
    TUpdate reread;
    reread.ReadFrom(again);
    TTaggedValueWriter second;
    reread.WriteTo(second);
    if (again.Remaining() != 0 || second.Data() != first.Data())
        std::abort();
    return 0;
}
