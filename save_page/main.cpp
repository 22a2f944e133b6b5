// SavePage as a CGI program.
#include "save_page.h"

int main() { return runAsCgi(kSavePage); }
