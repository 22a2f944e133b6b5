// FrontPage as a CGI program.
#include "front_page.h"

int main() { return runAsCgi(kFrontPage); }
