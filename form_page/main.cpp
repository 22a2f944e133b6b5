// FormPage as a CGI program.
#include "compose_page.h"

int main() { return runAsCgi(formPage); }
