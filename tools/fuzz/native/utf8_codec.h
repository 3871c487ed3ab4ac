// UTF-8 <-> UTF-16 without the platform: the conversion that native builds of the readers use in
// place of the Windows code-page calls, written to give the same code units. Malformed UTF-8 and
// unpaired surrogates become U+FFFD, never an error.
//
// Text inside the client is UTF-16 code units held in wchar_t. On Windows wchar_t is 16 bits;
// on Linux it is 32 bits, and these functions still store one UTF-16 code unit per wchar_t, so
// the readers see exactly the units they see on Windows (a character above U+FFFF arrives as a
// surrogate pair, not as one 32-bit value). When encoding, a wchar_t above U+FFFF (only a wide
// literal in a native build can hold one) is written as that code point, or U+FFFD past U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrevane::native {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at `bytes[index]` and moves `index` past what it consumed. The rules
// are those of the platform converter that the Windows build is tested on (checked code unit for
// code unit by tests/settings/utf8_codec_test.cpp): a byte that cannot start a sequence is one
// U+FFFD; a sequence that needs more bytes than the input has left turns the whole rest of the
// input into one U+FFFD; a continuation byte out of range ends the character as U+FFFD before
// that byte; an overlong form or a surrogate is one U+FFFD that takes the lead byte and the first
// continuation byte with it, and so does a four-byte sequence above U+10FFFF (with its second).
inline char32_t DecodeUtf8Character(const std::string& bytes, std::size_t& index) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(index++);
    if (lead < 0x80) {
        return lead;
    }
    const std::size_t trailing = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                                 : lead >= 0xF0 && lead <= 0xF4                   ? 3
                                                                                  : 0;
    if (trailing == 0) {
        return kReplacement;
    }
    if (bytes.size() - index < trailing) {
        index = bytes.size();
        return kReplacement;
    }
    static constexpr unsigned char kLeadMask[4] = {0x7F, 0x1F, 0x0F, 0x07};
    char32_t value = lead & kLeadMask[trailing];
    const auto take = [&](char32_t& into) {  // false when the byte is no continuation byte
        const unsigned char bits = at(index) ^ 0x80u;
        if (bits >= 0x40) {
            return false;
        }
        into = (into << 6) | bits;
        return true;
    };
    if (trailing == 3) {
        if (!take(value)) {
            return kReplacement;
        }
        ++index;
        if (value < 0x10) {
            return kReplacement;  // overlong
        }
    }
    if (trailing >= 2) {
        if (!take(value)) {
            return kReplacement;
        }
        if (value >= (0x110000 >> 6)) {
            return kReplacement;  // above U+10FFFF; this byte stays for the next character
        }
        ++index;
        if (value < 0x20) {
            return kReplacement;  // overlong
        }
        if (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)) {
            return kReplacement;  // a surrogate
        }
    }
    if (!take(value)) {
        return kReplacement;
    }
    ++index;
    return value < 0x80 ? kReplacement : value;  // overlong two-byte forms start at C2, so never here
}

inline std::wstring DecodeUtf8ToUtf16(const std::string& bytes) {
    std::wstring units;
    units.reserve(bytes.size());
    std::size_t index = 0;
    while (index < bytes.size()) {
        const char32_t c = DecodeUtf8Character(bytes, index);
        if (c >= 0x10000) {
            const char32_t offset = c - 0x10000;
            units.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
            units.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            units.push_back(static_cast<wchar_t>(c));
        }
    }
    return units;
}

inline void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

inline std::string EncodeUtf16ToUtf8(const std::wstring& units) {
    std::string bytes;
    bytes.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        // Through an unsigned 32-bit value: wchar_t is unsigned 16 bits on Windows and signed 32 on Linux.
        const auto unit = static_cast<char32_t>(static_cast<std::uint32_t>(units[i]));
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::uint32_t>(units[i + 1]));
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(bytes, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        const bool surrogate = unit >= 0xD800 && unit <= 0xDFFF;
        AppendUtf8(bytes, surrogate || unit > 0x10FFFF ? kReplacement : unit);
    }
    return bytes;
}

}  // namespace ostrevane::native
