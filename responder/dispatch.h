// Which page answers a request: the program named by the last part of its
// script name ("/cgi-bin/ListPage.exe"), so every link the pages print
// reaches the same page through the responder as through CGI.
#pragma once

#include <string>

#include "page/exchange.h"

// The page of `scriptName`, or null when it names none of the pages.
const PageProgram* pageForScript(const std::string& scriptName);

// The responder's own answer to a script name that names no page.
int answerUnknownScript(Response& response);
