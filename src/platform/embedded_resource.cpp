#include "platform/embedded_resource.h"

#include <windows.h>

namespace ostrevane {

std::string_view EmbeddedResource(int resourceId) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    if (resource == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    if (data == nullptr) {
        return {};
    }
    return std::string_view(static_cast<const char*>(data), size);
}

}  // namespace ostrevane
