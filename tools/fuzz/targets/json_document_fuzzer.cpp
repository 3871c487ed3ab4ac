// The JSON reader on any text: it returns a value or raises one of its two errors, never
// crashes, reads out of bounds or recurses without end; and what the client's escaping writes
// of a parsed tree reads back as the same tree.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "fuzz_support.h"
#include "json_tree.h"

namespace {

using namespace ostrevane;

void ParseAndRewrite(const std::wstring& text) {
    JsonValue value;
    try {
        value = ParseJsonDocument(text);
    } catch (const std::runtime_error& error) {
        FUZZ_CHECK(fuzz::IsParserError(error));
        return;
    }
    const std::wstring written = fuzz::WriteJson(value);
    JsonValue reread;
    try {
        reread = ParseJsonDocument(written);
    } catch (const std::runtime_error&) {
        FUZZ_CHECK(!"a written tree must parse");
    }
    FUZZ_CHECK(fuzz::SameJson(value, reread));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParseAndRewrite(fuzz::TextAsUtf8(data, size));
    ParseAndRewrite(fuzz::TextAsUnits(data, size));
    return 0;
}
