// The portable UTF-8 codec that native builds use in place of the platform conversion must give
// the same code units as Utf8ToWide and the same bytes as WideToUtf8, malformed input included.
#include "fuzz/native/utf8_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/text_encoding.h"

namespace ostrevane {
namespace {

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
        text += ' ';
    }
    return text;
}

std::string Units(const std::wstring& units) {
    std::string text;
    for (wchar_t unit : units) {
        text += std::to_string(static_cast<unsigned>(unit)) + ' ';
    }
    return text;
}

// Counts mismatches and reports the first few, so that one run shows the pattern of a difference.
class Comparison {
public:
    void Decode(const std::string& bytes) {
        const std::wstring expected = Utf8ToWide(bytes);
        const std::wstring actual = native::DecodeUtf8ToUtf16(bytes);
        if (expected != actual && ++mismatches_ <= 5) {
            ADD_FAILURE() << "bytes " << Hex(bytes) << ": platform " << Units(expected) << "portable " << Units(actual);
        }
    }
    void Encode(const std::wstring& units) {
        const std::string expected = WideToUtf8(units);
        const std::string actual = native::EncodeUtf16ToUtf8(units);
        if (expected != actual && ++mismatches_ <= 5) {
            ADD_FAILURE() << "units " << Units(units) << ": platform " << Hex(expected) << "portable " << Hex(actual);
        }
    }
    int mismatches() const { return mismatches_; }

private:
    int mismatches_ = 0;
};

TEST(PortableUtf8Codec, DecodesEveryOneAndTwoByteInputLikeThePlatform) {
    Comparison comparison;
    for (int a = 0; a < 256; ++a) {
        comparison.Decode(std::string(1, static_cast<char>(a)));
        for (int b = 0; b < 256; ++b) {
            comparison.Decode(std::string{static_cast<char>(a), static_cast<char>(b)});
        }
    }
    EXPECT_EQ(comparison.mismatches(), 0);
}

TEST(PortableUtf8Codec, DecodesThreeAndFourByteEdgesLikeThePlatform) {
    // Every lead byte above 0xBF with the continuation-range edges behind it, cut at every length.
    const unsigned char tails[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF};
    Comparison comparison;
    for (int lead = 0xC0; lead < 0x100; ++lead) {
        for (unsigned char second : tails) {
            for (unsigned char third : tails) {
                for (unsigned char fourth : tails) {
                    const std::string bytes{static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third),
                                            static_cast<char>(fourth), 'z'};
                    for (std::size_t length = 3; length <= bytes.size(); ++length) {
                        comparison.Decode(bytes.substr(0, length));
                    }
                }
            }
        }
    }
    EXPECT_EQ(comparison.mismatches(), 0);
}

TEST(PortableUtf8Codec, DecodesRandomBytesLikeThePlatform) {
    std::mt19937 random(1506);
    Comparison comparison;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(1 + random() % 24, '\0');
        for (char& byte : bytes) {
            // Mostly bytes that start or continue sequences, where the interesting cases are.
            byte = static_cast<char>(random() % 4 == 0 ? random() & 0x7F : 0x80 | (random() & 0x7F));
        }
        comparison.Decode(bytes);
    }
    EXPECT_EQ(comparison.mismatches(), 0);
}

TEST(PortableUtf8Codec, EncodesEveryCodeUnitAndSurrogateArrangementLikeThePlatform) {
    Comparison comparison;
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        comparison.Encode(std::wstring(1, static_cast<wchar_t>(unit)));
        comparison.Encode(std::wstring{L'a', static_cast<wchar_t>(unit), L'b'});
    }
    const wchar_t arrangements[][3] = {
        {0xD800, 0xDC00, 0}, {0xDBFF, 0xDFFF, 0}, {0xDC00, 0xD800, 0}, {0xD800, 0xD800, 0xDC00},
        {0xD83D, 0xDE00, 0xDC00}, {0xD800, L'x', 0xDC00}, {0xDFFF, 0xDFFF, 0xD800},
    };
    for (const auto& units : arrangements) {
        comparison.Encode(std::wstring(units, units[2] == 0 ? 2 : 3));
    }
    EXPECT_EQ(comparison.mismatches(), 0);
}

TEST(PortableUtf8Codec, KeepsEmbeddedNulsAndRoundTripsText) {
    const std::string text("a\0\xE4\xB8\xAD\xF0\x9F\x98\x80z", 10);
    const std::wstring units = native::DecodeUtf8ToUtf16(text);
    EXPECT_EQ(units, Utf8ToWide(text));
    ASSERT_EQ(units.size(), 6u);
    EXPECT_EQ(units[1], L'\0');
    EXPECT_EQ(native::EncodeUtf16ToUtf8(units), text);
}

}  // namespace
}  // namespace ostrevane
