// The publisher's web server as the program addresses it, and the two pages the menus open in the
// desktop's browser: the home page and the world high-score page. Opening never waits for the browser;
// when the desktop cannot start one, a message box gives the address to open by hand. The server's address is
// built in (the PELLORIN_SERVER_URL build option); a one-line file server.url in the user's folder (beside
// config.dat) overrides it.
#pragma once

#include <string>

// "scheme://host" or "scheme://host:port", no trailing slash. server.url is read on every call; a file
// that is missing, or whose first line is not an http or https address of a host with an optional port
// and nothing more, leaves the built-in address.
std::string ServerAddress();
// Whether text is such an address (surrounding blanks and a trailing "/" allowed).
bool ParseServerAddress(const std::string& text, std::string& address);

enum class TSaveServerResult { ssSaved, ssBadAddress, ssWriteFailed };
// Points this installation at a server: text, when ParseServerAddress takes it, is written (as it
// reads it) to the server.url that ServerAddress reads, the user's folder made when missing. path is
// that file's path in every case; on ssWriteFailed error holds the system's text, and a bad address
// writes nothing.
TSaveServerResult SaveServerAddress(const std::string& text, std::string& path, std::string& error);

std::string HomePageAddress();        // the server's root "/"
std::string WorldHighScoreAddress();  // "/cgi/version.pl?prg=Pellorin&show&type=0"

// Hands address to the desktop's browser; when none can be started, says so in a message box that
// shows the address.
void OpenWebPage(const std::string& address);
void OpenHomePage();
void OpenWorldHighScorePage();
