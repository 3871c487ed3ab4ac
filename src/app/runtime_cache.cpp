#include "app/runtime_cache.h"

#include "platform/embedded_resource.h"
#include "platform/held_file.h"
#include "platform/path_text.h"
#include "platform/reparse_path.h"
#include "platform/runtime_directories.h"
#include "tunnel/divert_files.h"

namespace ostrevane {

bool ExtractResourceFile(int resourceId, const std::wstring& path) {
    const std::string_view content = EmbeddedResource(resourceId);
    if (content.empty()) {
        return false;
    }
    // The cache lies in the user's own folders: never write through a link someone put on the way.
    const std::vector<UniqueFileHandle> folders = HoldFoldersWithoutLinks(path);
    if (folders.empty()) {
        return false;
    }
    // Content decides, not size: a planted file of the right size is rewritten.
    return static_cast<bool>(HoldFileWithContent(path, content));
}

void PrepareDriverRuntime() {
    const std::wstring cache = RuntimeCacheDirectory();
    ExtractResourceFile(kDivertLibraryResourceId, JoinPath(cache, kDivertLibraryFileName));
    ExtractResourceFile(kDivertDriverResourceId, JoinPath(cache, kDivertDriverFileName));
}

}  // namespace ostrevane
