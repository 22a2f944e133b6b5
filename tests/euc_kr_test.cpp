// The table of characters EUC-KR pages can carry, checked against the C
// library's own code page 949 converter over every character below U+10000.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <vector>

#include "text/euc_kr_table.h"

namespace {

bool converterEncodes(iconv_t cd, unsigned long codePoint) {
    unsigned char in[4] = {static_cast<unsigned char>(codePoint), static_cast<unsigned char>(codePoint >> 8),
                           static_cast<unsigned char>(codePoint >> 16), 0};
    char out[8];
    char* inPtr = reinterpret_cast<char*>(in);
    char* outPtr = out;
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
}

}  // namespace

TEST(EucKr, TableAgreesWithTheCodePage949Converter) {
    iconv_t cd = iconv_open("CP949", "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP949 converter in this C library";
    std::vector<unsigned long> differ;
    unsigned long encodable = 0;
    for (unsigned long c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const bool expected = converterEncodes(cd, c);
        encodable += expected;
        if (eucKrEncodes(c) != expected) differ.push_back(c);
    }
    iconv_close(cd);
    EXPECT_TRUE(differ.empty()) << differ.size() << " differ, the first U+" << std::hex << differ.front();
    // ASCII, the 11172 Hangul syllables, KS X 1001's Hanja and symbols.
    EXPECT_GT(encodable, 17000u);
}

TEST(EucKr, KnownCharacters) {
    EXPECT_TRUE(eucKrEncodes(0xB620));   // 똠, only in the extended code page
    EXPECT_FALSE(eucKrEncodes(0x80));
    EXPECT_FALSE(eucKrEncodes(0xE9));    // é
    EXPECT_FALSE(eucKrEncodes(0x1F600));
}
