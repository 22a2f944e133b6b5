// FeedPage as a CGI program.
#include "feed_page.h"

int main() { return runAsCgi(kFeedPage); }
