// Any response body through the envelope reader: a parse error of the JSON reader or an
// envelope whose fields are exactly the members of the right type; success only from the
// literal true.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "control/api_envelope.h"
#include "fuzz_support.h"
#include "json_tree.h"

namespace {

using namespace ostrevane;

void ReadEnvelope(const std::wstring& body) {
    ApiEnvelope envelope;
    try {
        envelope = ParseApiEnvelope(body);
    } catch (const std::runtime_error& error) {
        FUZZ_CHECK(fuzz::IsParserError(error));
        return;
    }
    const JsonValue root = ParseJsonDocument(body);  // the same text parsed again must not fail now
    const bool* success = JsonFindAs<bool>(root, L"success");
    FUZZ_CHECK(envelope.success == (success != nullptr && *success));
    const std::wstring* code = JsonFindAs<std::wstring>(root, L"code");
    FUZZ_CHECK(envelope.code == (code != nullptr ? *code : L""));
    const std::wstring* message = JsonFindAs<std::wstring>(root, L"message");
    FUZZ_CHECK(envelope.message == (message != nullptr ? *message : L""));
    const JsonValue* data = JsonFind(root, L"data");
    FUZZ_CHECK(fuzz::SameJson(envelope.data, data != nullptr ? *data : JsonValue{}));
    (void)IsRetryableAuthorizationError(envelope.code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReadEnvelope(fuzz::TextAsUtf8(data, size));
    ReadEnvelope(fuzz::TextAsUnits(data, size));
    return 0;
}
