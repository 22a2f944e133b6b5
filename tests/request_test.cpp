// Request decoding: the text helpers, the query pairs and the form body.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "page/page_input.h"
#include "page/form_decoding.h"

namespace {

std::string cut(std::string& line, char stop) {
    char* token = cutToken(line.data(), stop);
    std::string result = token;
    std::free(token);
    line = line.c_str();
    return result;
}

std::string decoded(std::string text) {
    decodePercent(text.data());
    return text.c_str();
}

// Decodes `body` with the budget `length`; returns "name=value|..." and
// what stayed unread.
std::string decodeBody(const std::string& body, int length, std::string* unread = nullptr, int* count = nullptr) {
    std::FILE* in = fmemopen(const_cast<char*>(body.data()), body.size(), "r");
    FormPair pairs[kPairCapacity] = {};
    int stored = decodeFormBody(in, length, pairs);
    std::string result;
    for (int k = 0; k < stored; ++k) {
        result += std::string(pairs[k].name) + "=" + pairs[k].value + "|";
        std::free(pairs[k].name);
        std::free(pairs[k].value);
    }
    if (unread) {
        unread->clear();
        for (int c; (c = std::getc(in)) != EOF;) *unread += static_cast<char>(c);
    }
    if (count) *count = stored;
    std::fclose(in);
    return result;
}

class QueryDecoding : public ::testing::Test {
protected:
    void decode(const char* query) {
        request = requestFromParams([query](const char* name) { return std::string(name) == "QUERY_STRING" ? query : nullptr; },
                                    nullptr, 0);
        input = parsePageInput(request, FormBody::None);
    }
    Request request;
    PageInput input;
};

}  // namespace

TEST(TextHelpers, CutTokenSplitsAtFirstStopByte) {
    std::string line = "BoardNum=3=4&rest";
    EXPECT_EQ(cut(line, '&'), "BoardNum=3=4");
    EXPECT_EQ(line, "rest");
    EXPECT_EQ(cut(line, '&'), "rest");
    EXPECT_EQ(line, "");
    EXPECT_EQ(cut(line, '&'), "");
    std::string pair = "BoardNum=3=4";
    EXPECT_EQ(cut(pair, '='), "BoardNum");
    EXPECT_EQ(pair, "3=4");
}

TEST(TextHelpers, HexPairValueUsesTheBoardsArithmetic) {
    EXPECT_EQ(hexPairValue("41"), 0x41);
    EXPECT_EQ(hexPairValue("c8"), 0xC8);
    EXPECT_EQ(hexPairValue("C8"), 0xC8);
    EXPECT_EQ(hexPairValue("2B"), '+');
    // Not hexadecimal: the same arithmetic, no rejection.
    EXPECT_EQ(hexPairValue("zz"), (16 * (('z' & 0xDF) - 55) + (('z' & 0xDF) - 55)) & 0xFF);
    EXPECT_EQ(hexPairValue("\xC7\xD1"), (16 * (-57 - 48) + (-47 - 48)) & 0xFF);
}

TEST(TextHelpers, DecodePercentDecodesEachEscapeOnce) {
    EXPECT_EQ(decoded("%2541"), "%41");
    EXPECT_EQ(decoded("%C7%D1"), "\xC7\xD1");
    EXPECT_EQ(decoded("a%20b"), "a b");
    // A "%" too near the end is kept; nothing is read past the text.
    EXPECT_EQ(decoded("ab%"), "ab%");
    EXPECT_EQ(decoded("ab%4"), "ab%4");
    EXPECT_EQ(decoded("%"), "%");
}

TEST(TextHelpers, PlusToSpaceAndDecimalValue) {
    std::string text = "a+b++";
    EXPECT_EQ(std::string(plusToSpace(text.data())), "a b  ");
    EXPECT_EQ(decimalValue("  -12x"), -12);
    EXPECT_EQ(decimalValue("+7"), 7);
    EXPECT_EQ(decimalValue("abc"), 0);
    EXPECT_EQ(decimalValue(""), 0);
    EXPECT_EQ(decimalValue("99999999999999999999"), 2147483647);
    EXPECT_EQ(decimalValue("-99999999999999999999"), -2147483647 - 1);
}

TEST_F(QueryDecoding, ParametersAreTakenByPosition) {
    decode("BoardNum=3&TextNum=12");
    EXPECT_EQ(input.board, 3);
    EXPECT_EQ(input.message, 12);
}

TEST_F(QueryDecoding, NamesAreNotLookedAt) {
    decode("TextNum=12&BoardNum=3");
    EXPECT_EQ(input.board, 12);
    EXPECT_EQ(input.message, 3);
}

TEST_F(QueryDecoding, MissingAndOddQueries) {
    decode("BoardNum=3");
    EXPECT_EQ(input.board, 3);
    EXPECT_EQ(input.message, 0);
}

TEST_F(QueryDecoding, AbsentQueryIsBoardZero) {
    decode(nullptr);
    EXPECT_EQ(input.board, 0);
    EXPECT_EQ(input.message, 0);
}

TEST_F(QueryDecoding, TokensWithoutEqualsAreAllName) {
    decode("3&12");
    EXPECT_EQ(input.board, 0);
    EXPECT_EQ(input.message, 0);
}

TEST_F(QueryDecoding, QueryIsNotPercentDecoded) {
    decode("BoardNum=%33&TextNum=-1");
    EXPECT_EQ(input.board, 0);
    EXPECT_EQ(input.message, -1);
}

TEST_F(QueryDecoding, SecondEqualsStaysInValue) {
    decode("BoardNum=3=4");
    EXPECT_EQ(input.board, 3);
    EXPECT_EQ(input.queryValues[0], "3=4");
}

TEST(FormBody, PlusThenPercentThenEquals) {
    EXPECT_EQ(decodeBody("name=a+b%2Bc&email=", 19), "name=a b+c|email=|");
    EXPECT_EQ(decodeBody("a%3Db=c%26d", 11), "a=b=c&d|");
    EXPECT_EQ(decodeBody("n=%C7%D1", 8), "n=\xC7\xD1|");
}

TEST(FormBody, BudgetEndsTheReading) {
    std::string unread;
    EXPECT_EQ(decodeBody("a=1&b=2", 7, &unread), "a=1|b=2|");
    EXPECT_EQ(decodeBody("a=1&b=2", 3, &unread), "a=1|");
    EXPECT_EQ(unread, "&b=2");
    // A short body ends at the end of input and keeps its last token.
    EXPECT_EQ(decodeBody("a=1&b=", 50), "a=1|b=|");
    // A negative length reads to the end of input.
    EXPECT_EQ(decodeBody("a=1&b=2", -1), "a=1|b=2|");
    EXPECT_EQ(decodeBody("a=1&b=2", 0), "");
    // The lowest budget is no limit either, and is not counted past its end.
    EXPECT_EQ(decodeBody("a=1&b=2", -2147483647 - 1), "a=1|b=2|");
    EXPECT_EQ(decodeBody("a=1&b=2", 2147483647, &unread), "a=1|b=2|");
}

TEST(FormBody, EmptyPairsAndLongFields) {
    EXPECT_EQ(decodeBody("a=1&&b=2", 8), "a=1|=|b=2|");
    std::string big(250000, 'x');
    EXPECT_EQ(decodeBody("v=" + big, static_cast<int>(big.size() + 2)), "v=" + big + "|");
}

TEST(FormBody, PairsBeyondTheTableAreReadAndDropped) {
    std::string body;
    for (int k = 0; k < 150; ++k) body += (k ? "&" : "") + std::string("p") + std::to_string(k) + "=v";
    body += "&";
    std::string unread;
    int count = 0;
    std::string pairs = decodeBody(body + "tail", static_cast<int>(body.size()), &unread, &count);
    EXPECT_EQ(count, kPairCapacity);
    EXPECT_EQ(pairs.substr(pairs.size() - 7), "|p99=v|");
    // The dropped pairs still counted against the budget.
    EXPECT_EQ(unread, "tail");
}
