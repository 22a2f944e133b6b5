// DropPage as a CGI program.
#include "drop_page.h"

int main() { return runAsCgi(kDropPage); }
