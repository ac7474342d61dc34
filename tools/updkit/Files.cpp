#include "tools/updkit/Files.h"

#include "base/Exception.h"
#include "base/File.h"

namespace updkit {

void CheckInput(const std::string& name)
{
    if (!upd::FileOrFolderExists(name))
        throw upd::Exception(name + ": no such file");
    if (!upd::IsRegularFile(name))
        throw upd::Exception(name + ": not a regular file");
}

void CheckOutput(const std::string& target, const std::vector<std::string>& inputs)
{
    if (upd::FileOrFolderExists(target) && !upd::IsRegularFile(target))
        throw upd::Exception(target + ": exists and is not a regular file; nothing was written");
    for (const std::string& input : inputs) {
        if (input == target || upd::SameFile(input, target))
            throw upd::Exception(target + ": is also an input (" + input + "); nothing was written");
    }
}

} // namespace updkit
