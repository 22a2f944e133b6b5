// The spam defences' pieces: token, used-token record, links, posting
// count, duplicate fingerprint, ban list and its Hangul conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <iconv.h>
#include <string>

#include "spam/ban_list.h"
#include "spam/duplicate_check.h"
#include "spam/form_token.h"
#include "text/hangul.h"
#include "spam/link_count.h"
#include "spam/posting_limit.h"
#include "config/spam_config.h"

namespace {

const std::string kSecret = "0123456789abcdef0123456789abcdef";
const std::time_t kNow = 1800000000;

std::string token(int board, std::time_t issued, const std::string& nonce = "00112233aabbccdd") {
    return makeFormToken(kSecret, board, issued, nonce);
}

}  // namespace

TEST(FormToken, OnlyASignedTokenOfThisBoardInItsTimePasses) {
    std::string good = token(1, kNow - 10);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, good), TokenVerdict::Valid);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, ""), TokenVerdict::Missing);
    EXPECT_EQ(checkFormToken(kSecret, 2, kNow, 3, good), TokenVerdict::Forged) << "another board's token";
    EXPECT_EQ(checkFormToken("another site's secret, long enough", 1, kNow, 3, good), TokenVerdict::Forged);
    // Altered: the time, the nonce or the signature changed by one digit.
    std::string earlier = good;
    earlier[9] = earlier[9] == '0' ? '1' : '0';
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, earlier), TokenVerdict::Forged);
    std::string otherNonce = token(1, kNow - 10, "00112233aabbccde");
    otherNonce.replace(otherNonce.rfind('.') + 1, std::string::npos, good.substr(good.rfind('.') + 1));
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, otherNonce), TokenVerdict::Forged);
    std::string badMac = good;
    badMac.back() = badMac.back() == 'a' ? 'b' : 'a';
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, badMac), TokenVerdict::Forged);
    for (const char* shape : {"x", "1.2.3", "1800000000..", "-5.00112233aabbccdd.00", "1800000000.00112233aabbccdd"}) {
        EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, shape), TokenVerdict::Forged) << shape;
    }
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, token(1, kNow - 2)), TokenVerdict::TooSoon);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, token(1, kNow - 3)), TokenVerdict::Valid);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, token(1, kNow - kTokenLifetime)), TokenVerdict::Valid);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, token(1, kNow - kTokenLifetime - 1)), TokenVerdict::Expired);
    EXPECT_EQ(checkFormToken(kSecret, 1, kNow, 3, token(1, kNow + 3600)), TokenVerdict::Forged) << "from the future";
    EXPECT_NE(freshNonce(), freshNonce());
}

TEST(UsedTokens, ATokenPassesOnceAndForgottenOnesCountAsUsed) {
    bool seen = true;
    bool damaged = true;
    std::string record = withUsedToken("", kNow, token(1, kNow - 5), &seen, &damaged);
    EXPECT_FALSE(seen);
    EXPECT_FALSE(damaged);
    withUsedToken(record, kNow, token(1, kNow - 5), &seen, &damaged);
    EXPECT_TRUE(seen);
    withUsedToken(record, kNow, token(1, kNow - 5, "ffffffffffffffff"), &seen, &damaged);
    EXPECT_FALSE(seen) << "another form of the same second";
    // Past capacity the oldest go, and every token served before them counts as used.
    record = "gesipan tokens 1 0\n";
    for (int k = 0; k < kUsedTokenCapacity; ++k) {
        char line[40];
        std::snprintf(line, sizeof line, "%ld %016x\n", static_cast<long>(kNow - 5000 + k), k);
        record += line;
    }
    record = withUsedToken(record, kNow, token(1, kNow - 10, "fedcfedcfedcfedc"), &seen, &damaged);
    ASSERT_FALSE(seen);
    ASSERT_FALSE(damaged);
    EXPECT_LE(std::count(record.begin(), record.end(), '\n'), kUsedTokenCapacity + 1);
    withUsedToken(record, kNow, token(1, kNow - 5000, "0123012301230123"), &seen, &damaged);
    EXPECT_TRUE(seen) << "older than what is remembered";
    withUsedToken(record, kNow, token(1, kNow - 1, "0123012301230123"), &seen, &damaged);
    EXPECT_FALSE(seen);
    // A record a day old is forgotten; a damaged one is read as far as it goes.
    std::string old = withUsedToken("", kNow - kTokenLifetime - 10, token(1, kNow - kTokenLifetime - 20), &seen, &damaged);
    EXPECT_EQ(withUsedToken(old, kNow, token(1, kNow - 5), &seen, &damaged).find(std::to_string(kNow - kTokenLifetime - 20)),
              std::string::npos);
    std::string mended = withUsedToken("garbage\x01\n", kNow, token(1, kNow - 5), &seen, &damaged);
    EXPECT_TRUE(damaged);
    EXPECT_FALSE(seen);
    withUsedToken(mended, kNow, token(1, kNow - 5), &seen, &damaged);
    EXPECT_FALSE(damaged);
    EXPECT_TRUE(seen);
}

TEST(LinkCount, SchemesAndWwwCountOnceEachAndTheFormsDefaultIsNone) {
    EXPECT_EQ(countLinks("http://"), 0);
    EXPECT_EQ(countLinks("plain text, 안녕하세요"), 0);
    EXPECT_EQ(countLinks("see http://a.example and HTTPS://b.example/x"), 2);
    EXPECT_EQ(countLinks("http://www.a.example www.b.example ftp://c"), 3);
    // The anchor is the one link a reader can follow; its text is no second.
    EXPECT_EQ(countLinks("<a href=\"http://x.example\">http://x.example</a>"), 1);
    EXPECT_EQ(countLinks("wwwx www. http:// a"), 0);
}

TEST(LinkCount, EveryLinkThePagePrintsLiveCountsHoweverItsAddressIsWritten) {
    struct Case {
        const char* text;
        int links;
    };
    const Case cases[] = {
        {"<a href=\"//spam.example/1\">x</a>", 1},
        {"<a href=\"&#104;ttp://spam.example/1\">x</a>", 1},
        {"<a href=\"http&#58;//spam.example/1\">x</a>", 1},
        {"<a href=\"http:///spam.example/1\">x</a>", 1},
        {"<a href=\"http:\\\\spam.example\">x</a>", 1},
        {"<a href=\"https:spam.example\">x</a>", 1},
        {"<A HREF=page.html>x", 1},  // left open, closed by the filter: still live
        {"<a name=top>x</a>", 0},    // no address, nothing to follow
        // What the filter prints as text is no anchor; an address in it
        // counts as one written out.
        {"<a href=\"javascript:x\">x</a>", 0},
        {"<a onclick=x href=\"http://a.example\">x</a>", 1},
        // Addresses written as text, references decoded as the reader sees them.
        {"&#104;ttp://a.example and http&#58;//b.example", 2},
        {"<a href=x>www.a.example</a> www.b.example", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(countLinks(c.text), c.links) << c.text;
    // A post counts every field the page prints a link for, the e-mail aside.
    EXPECT_EQ(postLinks("", "http://", "", ""), 0) << "the form's bare http://";
    EXPECT_EQ(postLinks("", "", "", ""), 0);
    EXPECT_EQ(postLinks("", "//home.example", "", ""), 1);
    EXPECT_EQ(postLinks("", "javascript:x", "", ""), 0) << "printed as no link";
    EXPECT_EQ(postLinks("<a href=//a>n</a>", "http://h.example", "<a href=//b>s</a>", "<a href=//c>b</a>"), 4);
}

TEST(PostingLimit, CountsPerAddressWithinTheWindow) {
    std::string record;
    bool allowed = false;
    bool damaged = false;
    for (int k = 0; k < 5; ++k) {
        record = withPost(record, "192.0.2.1", kNow + k, 5, 600, &allowed, &damaged);
        EXPECT_TRUE(allowed) << k;
    }
    withPost(record, "192.0.2.1", kNow + 10, 5, 600, &allowed, &damaged);
    EXPECT_FALSE(allowed);
    withPost(record, "192.0.2.2", kNow + 10, 5, 600, &allowed, &damaged);
    EXPECT_TRUE(allowed);
    withPost(record, "192.0.2.1", kNow + 600, 5, 600, &allowed, &damaged);
    EXPECT_TRUE(allowed) << "the first post left the window";
    EXPECT_FALSE(damaged);
    // An address cannot break the record's lines.
    record = withPost("", "a b\nc", kNow, 5, 600, &allowed, &damaged);
    EXPECT_EQ(record, "gesipan posts 1\na_b_c " + std::to_string(kNow) + "\n");
    withPost("gesipan posts 1\n192.0.2.1 17x\n", "192.0.2.1", kNow, 5, 600, &allowed, &damaged);
    EXPECT_TRUE(damaged);
    EXPECT_TRUE(allowed);
    // Bounded: past capacity the address whose last post is oldest goes.
    record = "gesipan posts 1\n";
    for (int k = 0; k < kPostingAddresses; ++k) {
        record += "10.0." + std::to_string(k / 256) + "." + std::to_string(k % 256) + " " + std::to_string(kNow + k) + "\n";
    }
    record = withPost(record, "10.9.9.9", kNow + 5000, 5, 100000, &allowed, &damaged);
    EXPECT_TRUE(allowed);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), kPostingAddresses + 1);
    EXPECT_EQ(record.find("10.0.0.0 "), std::string::npos);
}

TEST(DuplicateCheck, FingerprintIgnoresOnlyWhiteSpaceRuns) {
    EXPECT_EQ(bodyFingerprint("buy  now\r\nplease "), bodyFingerprint(" buy now please"));
    EXPECT_NE(bodyFingerprint("buy now"), bodyFingerprint("buy now!"));
    EXPECT_NE(bodyFingerprint("buy now"), bodyFingerprint("buynow"));
    bool damaged = false;
    std::vector<RecentBody> bodies = {{1, kNow - 100, bodyFingerprint("a")}, {2, kNow - 10, bodyFingerprint("b")}};
    std::vector<RecentBody> read = readRecentBodies(formatRecentBodies(bodies), kNow, 50, &damaged);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].board, 2);
    EXPECT_FALSE(damaged);
    readRecentBodies("gesipan bodies 1\n1 2 short\n", kNow, 50, &damaged);
    EXPECT_TRUE(damaged);
}

TEST(BanList, AddressesRangesAndWords) {
    BanList list;
    std::vector<std::string> unusable;
    // The list is UTF-8, whatever the pages' code page.
    list.parse(u8"# spammers\n192.0.2.7\n198.51.100.0/24\n2001:db8::/32\n  CasiNo  \n바카라\n\n漢字\n::ffff:203.0.113.0/120\n",
               &unusable);
    EXPECT_EQ(unusable, std::vector<std::string>{u8"漢字"});
    EXPECT_TRUE(list.bansAddress("192.0.2.7"));
    EXPECT_FALSE(list.bansAddress("192.0.2.8"));
    EXPECT_TRUE(list.bansAddress("198.51.100.255"));
    EXPECT_FALSE(list.bansAddress("198.51.101.1"));
    EXPECT_TRUE(list.bansAddress("2001:db8:1::5"));
    EXPECT_FALSE(list.bansAddress("2001:db9::5"));
    EXPECT_TRUE(list.bansAddress("::ffff:192.0.2.7")) << "IPv4 seen through IPv6";
    EXPECT_TRUE(list.bansAddress("203.0.113.9"));
    EXPECT_FALSE(list.bansAddress("unknown"));
    EXPECT_TRUE(list.bansText("best CASINO online"));
    // "바카라" as the page sends it, in EUC-KR.
    EXPECT_TRUE(list.bansText("\xB9\xD9\xC4\xAB\xB6\xF3 \xC7\xCF\xBC\xBC\xBF\xE4"));
    EXPECT_FALSE(list.bansText("casin o"));
    // The second byte of a two-byte character is no ASCII letter to match.
    BanList letter;
    letter.parse("A\n", &unusable);
    EXPECT_FALSE(letter.bansText("\x81\x41\x81\x41"));
    EXPECT_TRUE(letter.bansText("\x81\x41 a"));

    std::string canonical;
    EXPECT_EQ(classifyBanEntry(" 2001:DB8:0::1 ", &canonical), BanKind::Address);
    EXPECT_EQ(canonical, "2001:db8::1");
    EXPECT_EQ(classifyBanEntry("10.1.2.3/8", &canonical), BanKind::Range);
    EXPECT_EQ(canonical, "10.1.2.3/8");
    EXPECT_EQ(classifyBanEntry("10.0.0.0/33", &canonical), BanKind::Word);
    EXPECT_EQ(classifyBanEntry("# note", &canonical), BanKind::None);
}

TEST(BanList, WordsMatchWhatTheReaderSeesAndTheListAsTheOwnerMeantIt) {
    BanList list;
    std::vector<std::string> unusable;
    // A byte-order mark before the first line and CRLF line ends.
    // "갂" is the two bytes 0x81 "A" in the posts' code page.
    list.parse("\xEF\xBB\xBF" "casino\r\n\xEC\xB9\xB4\xEC\xA7\x80\xEB\x85\xB8\r\n\xEA\xB0\x82\n", &unusable);
    EXPECT_TRUE(unusable.empty());
    struct Case {
        const char* text;
        bool banned;
    };
    const Case cases[] = {
        {"casino", true},
        {"play &#99;asino now", true},
        {"c&#x61;sino", true},
        {"C&#X41;SINO", true},
        {"cas<b></b>ino", true},
        {"play \xFF" "casino now", true},         // a byte that starts no character
        {"play \xC7" "casino now", true},         // a lead byte whose trail cannot be a letter
        {"&#xCE74;&#51648;&#xB178;", true},        // "카지노" by references
        {"\xC4\xAB\xC1\xF6\xB3\xEB", true},  // and in EUC-KR
        {"cas&amp;ino", false},
        {"cas ino", false},
        {"c&#233;sino", false},
        {"\x81\x63" "asino", false},  // the "c" is the second byte of a character
        {"x\x81\x41y", true},
        {"x\x81\x61y", false},
    };
    for (const Case& c : cases) EXPECT_EQ(list.bansText(c.text), c.banned) << c.text;
    EXPECT_EQ(banListLines("\xEF\xBB\xBF" "a\r\nb\n"), (std::vector<std::string>{"a\r", "b"}));
}

TEST(Hangul, EverySyllableAsTheCLibrarysCodePage949) {
    iconv_t convert = iconv_open("CP949", "UTF-32LE");
    ASSERT_NE(convert, reinterpret_cast<iconv_t>(-1));
    for (unsigned long cp = 0xAC00; cp <= 0xD7A3; ++cp) {
        char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8), 0, 0};
        char out[8];
        char* inAt = in;
        char* outAt = out;
        std::size_t inLeft = sizeof in;
        std::size_t outLeft = sizeof out;
        ASSERT_NE(iconv(convert, &inAt, &inLeft, &outAt, &outLeft), static_cast<std::size_t>(-1));
        ASSERT_EQ(hangulBytes(cp), std::string(out, outAt - out)) << std::hex << cp;
    }
    iconv_close(convert);
    std::string bytes;
    EXPECT_TRUE(utf8ToCp949(u8"Spam 스팸", &bytes));
    EXPECT_EQ(bytes, "Spam \xBD\xBA\xC6\xD4");
    EXPECT_FALSE(utf8ToCp949("\xFF", &bytes));
    EXPECT_FALSE(utf8ToCp949(u8"€", &bytes));
}

TEST(SpamConfig, LinesTurnDefencesOnAndMistypedOnesLeaveThemOff) {
    SpamConfig config;
    bool understood = false;
    // Whether the line was understood; a defence's line either way.
    auto take = [&](const char* key, const char* value) {
        EXPECT_TRUE(config.readLine(key, value, &understood)) << key;
        return understood;
    };
    EXPECT_FALSE(config.anyFormField());
    EXPECT_TRUE(take("FORM_TOKEN", "/srv/secret/form.key 5"));
    EXPECT_EQ(config.tokenSecretPath, "/srv/secret/form.key");
    EXPECT_EQ(config.tokenWait, 5);
    EXPECT_TRUE(take("FORM_TOKEN", "/k"));
    EXPECT_EQ(config.tokenWait, kDefaultTokenWait);
    EXPECT_FALSE(take("FORM_TOKEN", "/k 5 seconds"));
    EXPECT_TRUE(take("POST_LIMIT", "5 600"));
    EXPECT_EQ(config.postLimit, 5);
    EXPECT_EQ(config.postWindow, 600);
    EXPECT_FALSE(take("POST_LIMIT", "five"));
    EXPECT_EQ(config.postLimit, 0);
    EXPECT_TRUE(take("LINK_LIMIT", "3"));
    EXPECT_EQ(config.linkLimit, 3);
    EXPECT_FALSE(take("LINK_LIMIT", "-2"));
    EXPECT_EQ(config.linkLimit, -1);
    EXPECT_TRUE(take("HONEYPOT", "off"));
    EXPECT_FALSE(config.honeypot);
    EXPECT_TRUE(take("HONEYPOT", "on"));
    EXPECT_TRUE(config.honeypot);
    EXPECT_FALSE(take("HONEYPOT", "on   spam out"));
    EXPECT_FALSE(config.honeypot);
    EXPECT_TRUE(take("DUPLICATE_CHECK", "86400"));
    EXPECT_EQ(config.duplicateWindow, 86400);
    EXPECT_FALSE(config.readLine("BASE_DIR", "/", &understood));
}
