// Where a request becomes a response: the one call that runs a page over
// a request, for the CGI programs and the FastCGI responder alike.
#pragma once

#include "config/site_config.h"
#include "page/page_input.h"
#include "page/request.h"
#include "page/response.h"

// A page: writes one whole page for `input` into `response` and returns
// the exit status its CGI program ends with.
using PageFunction = int (*)(const PageInput& input, const SiteConfig& site, Response& response);

// A page and how its request is parsed.
struct PageProgram {
    const char* name;  // its program's name, "ListPage.exe"
    PageFunction run;
    FormBody body;
    // The page writes its own header lines (a status, another content type).
    bool ownHeaders = false;
};

// The content-type header, the request parsed, the site's configuration,
// then the page. A page that runs out of memory costs only its own
// response: what it printed, then the bare out-of-memory line, status 1.
int servePage(const PageProgram& page, const Request& request, SiteConfigCache& site, Response& response);

// A CGI program's main: the request from the environment and standard
// input, the response to standard output, which is then closed before the
// response's deferred work runs; the status to return from main.
int runAsCgi(const PageProgram& page);
