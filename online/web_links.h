// The publisher's web server as the program addresses it, and the two pages the menus open in the
// desktop's browser: the home page and the world high-score page. Opening never waits for the browser
// and never reports a failure. The server's address is built in (the PELLORIN_SERVER_URL build option);
// a one-line file server.url in the user's folder (beside config.dat) overrides it.
#pragma once

#include <string>

// "scheme://host" or "scheme://host:port", no trailing slash. server.url is read on every call; a file
// that is missing, or whose first line is not an http or https address of a host with an optional port
// and nothing more, leaves the built-in address.
std::string ServerAddress();
// Whether text is such an address (surrounding blanks and a trailing "/" allowed).
bool ParseServerAddress(const std::string& text, std::string& address);

std::string HomePageAddress();        // the server's root "/"
std::string WorldHighScoreAddress();  // "/cgi/version.pl?prg=Pellorin&show&type=0"

void OpenHomePage();
void OpenWorldHighScorePage();
