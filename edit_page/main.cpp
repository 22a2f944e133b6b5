// EditPage as a CGI program.
#include "edit_page.h"

int main() { return runAsCgi(kEditPage); }
