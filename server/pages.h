// The pages pellorin-server shows people: the home page and the world table, as HTML readable on a
// phone and as JSON. Every stored text is escaped on the way out. Stored texts are read as UTF-8: the
// game sends only ASCII letters, digits and blanks, so anything else came into the table past the
// server (a hand edit, an import); a byte that is not part of well-formed UTF-8 shows as U+FFFD, so
// every page is valid UTF-8 whatever the table holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/score_store.h"

inline constexpr int kWorldTableSize = 100;  // entries on the world table

// text for an HTML page: the five markup characters as entities.
std::string EscapeHtml(std::string_view text);
// "YYYY-MM-DD" of the UTC day.
std::string DateText(int64_t secondsSince1970);

std::string HomePageHtml();
// The address a verified entry's replay is downloaded from: "/cgi/replay?id=ENTRY".
std::string ReplayAddress(int64_t entry);
// entries best first; places are numbered from 1 in that order. Verified entries have a mark and a link
// to their replay, the others a word on why not (its title says more). verifiedOnly: the table of
// verified entries alone (it says so, and links the other).
std::string WorldTableHtml(const std::vector<TStoredEntry>& entries, bool verifiedOnly = false);
// {"entries":[{"place":1,"name":...,"country":...,"score":...,"date":"YYYY-MM-DD","verified":false,
// "status":"unchecked"},...]}, a verified entry with "verified":true,"replay":ReplayAddress; status is
// "verified", "checking" (its replay is awaited or queued), "refused" or "unchecked" (no good challenge,
// no replay came, or the server checks none).
std::string WorldTableJson(const std::vector<TStoredEntry>& entries);
