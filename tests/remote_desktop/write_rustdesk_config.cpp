// Writes RustDesk2.toml through the client's own writer, for a TOML reader outside Wine to check:
//   write_rustdesk_config <server description JSON file> <RustDesk2.toml path>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "platform/file_io.h"
#include "remote_desktop/rustdesk_config.h"
#include "settings/json_parser.h"
#include "settings/text_utils.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: write_rustdesk_config <server.json> <RustDesk2.toml>\n", stderr);
        return 2;
    }
    try {
        const std::optional<std::string> json = ostrevane::ReadFileBytes(argv[1]);
        if (!json) {
            std::fputs("cannot read the server description\n", stderr);
            return 1;
        }
        ostrevane::WriteRustDeskConfig(argv[2], ostrevane::ParseJsonDocument(ostrevane::Utf8ToWide(*json)));
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
