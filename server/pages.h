// The pages pellorin-server shows people: the home page and the world table, as HTML readable on a
// phone and as JSON. Every stored text is escaped on the way out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/score_store.h"

inline constexpr int kWorldTableSize = 100;  // entries on the world table

std::string EscapeHtml(std::string_view text);
// text as the inside of a JSON string; bytes of 0x80 and above become \u00XX (the table holds ASCII).
std::string EscapeJson(std::string_view text);
// "YYYY-MM-DD" of the UTC day.
std::string DateText(int64_t secondsSince1970);

std::string HomePageHtml();
// entries best first; places are numbered from 1 in that order.
std::string WorldTableHtml(const std::vector<TStoredEntry>& entries);
// {"entries":[{"place":1,"name":...,"country":...,"score":...,"date":"YYYY-MM-DD"},...]}
std::string WorldTableJson(const std::vector<TStoredEntry>& entries);
