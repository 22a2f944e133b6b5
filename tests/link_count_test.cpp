// The link count that the posting limit and the operator's listing share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_count.h"

namespace {

TEST(LinkCount, CountsEachLinkOnce) {
    struct Case {
        std::string text;
        int links;
    };
    for (const Case& c : std::vector<Case>{
             {"", 0},
             {"no links here, just www and http", 0},
             {"http://a.example", 1},
             {"HTTPS://A.EXAMPLE and Ftp://b", 2},
             {"http://www.a.example", 1},          // the host of a link is no second link
             {"www.a.example www.b.example", 2},
             {"<a href=\"http://a\">http://a</a>", 2},
             {"http://", 1},
             {"xhttp://a", 1},
             {"http:/a www a.www.b", 1},            // "www." inside a name still starts one
         }) {
        EXPECT_EQ(countLinks(c.text), c.links) << c.text;
    }
}

TEST(LinkCount, ReadsTwoByteCharactersWhole) {
    // Code page 949 puts ASCII letters in second bytes: 0x81 'w' is one
    // character, so the "ww." after it starts no link.
    EXPECT_EQ(countLinks("\x81www.a"), 0);
    EXPECT_EQ(countLinks("\xb0\xa1www.a"), 1);  // after a whole character it does
    EXPECT_EQ(countLinks("\xb0\xa1http://a \xb1\xe8 http://b"), 2);
}

}  // namespace
