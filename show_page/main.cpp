// ShowPage as a CGI program.
#include "view_page.h"

int main() { return runAsCgi(showPage); }
