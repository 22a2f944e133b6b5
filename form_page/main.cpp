// FormPage as a CGI program.
#include "form_page.h"

int main() { return runAsCgi(kFormPage); }
