// The image generator run as the site command runs it: every board's title
// image drawn once, an owner's own image never replaced.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

int makeImages(const std::string& args) {
    std::string command = programPath("make_images") + " " + args + " 2>/dev/null";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isGif(const std::string& bytes) { return bytes.rfind("GIF89a", 0) == 0 && bytes.back() == ';'; }

}  // namespace

TEST(MakeImages, DrawsEachBoardsTitleAndKeepsTheOwnersOwn) {
    ScratchSite site;
    const std::string image = site.root() + "/Image";
    ASSERT_EQ(::mkdir(image.c_str(), 0755), 0);
    writeFile(image + "/title2.gif", "the owner's picture");
    ASSERT_EQ(makeImages(image + " 1 title1.gif 2 title2.gif 7 title7.gif 2147483647 big_one.gif"), 0);
    EXPECT_EQ(readFile(image + "/title2.gif"), "the owner's picture");
    std::string one = readFile(image + "/title1.gif");
    std::string seven = readFile(image + "/title7.gif");
    EXPECT_TRUE(isGif(one));
    EXPECT_TRUE(isGif(seven));
    EXPECT_TRUE(isGif(readFile(image + "/big_one.gif")));
    EXPECT_NE(one, seven);  // each carries its own number
    EXPECT_TRUE(isGif(readFile(image + "/posting.gif")));
    struct stat st;
    ASSERT_EQ(::stat((image + "/title7.gif").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A rerun keeps the titles as they are, drawn or not, and refreshes the rest.
    writeFile(image + "/title1.gif", "changed by the owner");
    writeFile(image + "/posting.gif", "stale");
    ASSERT_EQ(makeImages(image + " 1 title1.gif 7 title7.gif"), 0);
    EXPECT_EQ(readFile(image + "/title1.gif"), "changed by the owner");
    EXPECT_EQ(readFile(image + "/title7.gif"), seven);
    EXPECT_TRUE(isGif(readFile(image + "/posting.gif")));
}

TEST(MakeImages, NeverWritesThroughALinkNorLeavesTemporaryFiles) {
    ScratchSite site;
    const std::string image = site.root() + "/Image";
    ASSERT_EQ(::mkdir(image.c_str(), 0755), 0);
    const std::string outside = site.root() + "/outside";
    writeFile(outside, "not an image");
    ASSERT_EQ(::symlink(outside.c_str(), (image + "/line.gif").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (image + "/title3.gif").c_str()), 0);
    ASSERT_EQ(makeImages(image + " 3 title3.gif"), 0);
    EXPECT_EQ(readFile(outside), "not an image");
    struct stat st;
    ASSERT_EQ(::lstat((image + "/line.gif").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    // The owner's link as title stays a link.
    ASSERT_EQ(::lstat((image + "/title3.gif").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    std::string listing;
    FILE* ls = ::popen(("ls -A " + image).c_str(), "r");
    ASSERT_NE(ls, nullptr);
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, ls)) listing += buffer;
    ::pclose(ls);
    EXPECT_EQ(listing.find(".gif."), std::string::npos) << listing;
}

TEST(MakeImages, RefusesWhatIsNotABoardAndAServedImageName) {
    ScratchSite site;
    const std::string image = site.root() + "/Image";
    ASSERT_EQ(::mkdir(image.c_str(), 0755), 0);
    for (const char* args : {" 2 ../title2.gif", " 2 title2.png", " x title.gif", " -1 title.gif", " 01 t.gif",
                             " 2147483648 t.gif", " 2", " 2 .gif"}) {
        EXPECT_EQ(makeImages(image + args), 2) << args;
    }
    EXPECT_FALSE(fileExists(site.root() + "/title2.gif"));
    EXPECT_FALSE(fileExists(image + "/posting.gif"));  // refused before drawing anything
}
