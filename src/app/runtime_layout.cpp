#include "app/runtime_layout.h"

#include "platform/path_text.h"

namespace ostrevane {

std::wstring SourceTreeRoot(const std::wstring& executablePath) {
    const std::wstring marker = kSourceTreeMarker;
    if (executablePath.size() < marker.size()) {
        return {};
    }
    const std::size_t at = executablePath.find(marker);
    if (at == std::wstring::npos) {
        return {};
    }
    return executablePath.substr(0, at);
}

std::vector<FileCopy> SourceTreeDriverCopies(const std::wstring& executablePath, const std::wstring& cacheDirectory) {
    const std::wstring root = SourceTreeRoot(executablePath);
    if (root.empty()) {
        return {};
    }
    const std::wstring treeRuntime = JoinPath(root, L"src\\EngineerClient\\EmbeddedRuntime");
    const std::wstring treeDrivers = JoinPath(treeRuntime, L"windivert\\x64");
    return {
        {JoinPath(treeDrivers, kDivertLibraryFileName), JoinPath(cacheDirectory, kDivertLibraryFileName)},
        {JoinPath(treeDrivers, kDivertDriverFileName), JoinPath(cacheDirectory, kDivertDriverFileName)},
    };
}

}  // namespace ostrevane
