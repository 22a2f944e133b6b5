// SavePage as a CGI program.
#include "submit_page.h"

int main() { return runAsCgi(savePage); }
