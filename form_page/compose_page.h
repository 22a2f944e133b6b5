// FormPage's page object: the empty form for a new message.
#pragma once

#include "page/cgi_page.h"

class ComposePage : public CgiPage {
public:
    using CgiPage::CgiPage;

    // Only the board number is taken, from the first query pair.
    int decodeRequest() override;

    // Prints the compose form, which posts to SavePage as message -1.
    void printComposeForm();
};

// FormPage: the compose form's steps; returns the exit status.
int formPage(const Request& request);
