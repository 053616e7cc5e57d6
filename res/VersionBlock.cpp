#include "res/VersionBlock.h"

#include "res/StringTable.h"

#include <string_view>
#include <vector>

namespace {

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        std::size_t sep = path.find('\\');
        std::string_view part = path.substr(0, sep);
        if (!part.empty())
            parts.push_back(part);
        if (sep == std::string_view::npos)
            break;
        path.remove_prefix(sep + 1);
    }
    return parts;
}

}  // namespace

const char* VersionQueryString(const VersionBlock* block, const char* subBlock) {
    if (!block || !subBlock)
        return nullptr;
    const std::vector<std::string_view> parts = SplitPath(subBlock);
    if (parts.size() != 3 || !SameName(parts[0], "StringFileInfo"))
        return nullptr;
    for (std::size_t t = 0; t < block->tableCount; ++t) {
        const VersionStringTable& table = block->tables[t];
        if (!table.name || !SameName(parts[1], table.name))
            continue;
        for (std::size_t i = 0; i < table.count; ++i) {
            const VersionString& s = table.strings[i];
            if (s.key && s.value && SameName(parts[2], s.key))
                return s.value;
        }
        return nullptr;
    }
    return nullptr;
}
