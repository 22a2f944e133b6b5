// ShowPage as a CGI program.
#include "show_page.h"

int main() { return runAsCgi(kShowPage); }
