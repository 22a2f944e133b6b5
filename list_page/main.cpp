// ListPage as a CGI program.
#include "list_page.h"

int main() { return runAsCgi(kListPage); }
