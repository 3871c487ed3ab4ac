#include "tunnel/divert_files.h"

#include <mutex>

#include "platform/embedded_resource.h"
#include "platform/runtime_directories.h"

namespace ostrevane {
namespace {

std::mutex testFilesMutex;
std::optional<DivertFiles> testFiles;

}  // namespace

DivertFiles EmbeddedDivertFiles() {
    return {RuntimeCacheDirectory(), std::string(EmbeddedResource(kDivertLibraryResourceId)),
            std::string(EmbeddedResource(kDivertDriverResourceId))};
}

DivertFiles CurrentDivertFiles() {
    {
        std::lock_guard lock(testFilesMutex);
        if (testFiles) {
            return *testFiles;
        }
    }
    return EmbeddedDivertFiles();
}

void UseDivertFilesForTesting(std::optional<DivertFiles> files) {
    std::lock_guard lock(testFilesMutex);
    testFiles = std::move(files);
}

}  // namespace ostrevane
