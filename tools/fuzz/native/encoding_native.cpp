// Utf8ToWide and WideToUtf8 for native builds, where the platform's code-page conversion does not
// exist: the portable codec of utf8_codec.h, which gives the same UTF-16 code units.
#include "platform/text_encoding.h"

#include "utf8_codec.h"

namespace ostrevane {

std::wstring Utf8ToWide(const std::string& utf8) { return native::DecodeUtf8ToUtf16(utf8); }

std::string WideToUtf8(const std::wstring& wide) { return native::EncodeUtf16ToUtf8(wide); }

}  // namespace ostrevane
