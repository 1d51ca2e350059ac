#include "server/pages.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "common/text.h"
#include "protocol/score_record.h"

namespace {

const char kPageHead[] =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";

const char kStyle[] =
    "<style>\n"
    "body{font-family:sans-serif;margin:0 auto;max-width:40em;padding:1em;line-height:1.4}\n"
    "table{border-collapse:collapse;width:100%}\n"
    "th,td{padding:.3em .5em;text-align:left;border-bottom:1px solid #ccc}\n"
    "td:nth-child(2),td:nth-child(3){overflow-wrap:anywhere}\n"
    "td.n,th.n{text-align:right}\n"
    "small{color:#666}\n"
    "tbody tr:nth-child(odd){background:#f4f4f4}\n"
    "@media (max-width:30em){body{padding:.5em}th,td{padding:.25em .3em;font-size:.9em}}\n"
    "</style>\n";

// What the ✓ column says of an entry that is not verified: a word or two, and why in its title.
struct TCheckText {
  const char* Short;
  const char* Why;
  const char* Status;  // the JSON's
};

TCheckText CheckText(TStoredEntry::TCheck check) {
  switch (check) {
    case TStoredEntry::ckChecking:
      return {"checking", "its replay is being checked", "checking"};
    case TStoredEntry::ckVerified:
      return {"", "", "verified"};
    case TStoredEntry::ckRefused:
      return {"refused", "its replay did not prove this score", "refused"};
    case TStoredEntry::ckNoChallenge:
      return {"no challenge",
              "the result came without a good challenge from this server, so no replay was taken",
              "unchecked"};
    case TStoredEntry::ckNoReplay:
      return {"no replay", "no replay came for this result", "unchecked"};
    case TStoredEntry::ckNone:
      break;
  }
  return {"not checked", "this result was stored without a check", "unchecked"};
}

// What the mark means, on both tables.
const char kVerifiedMeans[] =
    "this score was reached by this game, from a seed this server gave to this entry";

std::string WorldTableAddress() {
  return std::string(kScriptPath) + "?prg=" + std::string(kProductWord) + "&amp;show&amp;type=0";
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    auto [code, length] = Utf8CodePointAt(text, at);
    switch (code) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case kUtf8Replacement:
        out += "\xEF\xBF\xBD";
        break;
      default:
        out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string DateText(int64_t secondsSince1970) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm day{};
  if (gmtime_r(&t, &day) == nullptr) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
  return text;
}

std::string HomePageHtml() {
  return std::string(kPageHead) + "<title>Pellorin</title>\n" + kStyle +
         "</head>\n<body>\n<h1>Pellorin</h1>\n"
         "<p>Pellorin is a side-scrolling aircraft shooter for the Linux desktop. You fly a propeller plane "
         "over scrolling mountains, shoot down enemy aircraft, kamikaze planes and paratroopers, bomb the "
         "guns on the ground and pick up bonuses, level after level until the last life is lost.</p>\n"
         "<p>At the end of a game you may send your score here. See the best of them on the "
         "<a href=\"" +
         WorldTableAddress() + "\">world high-score table</a>.</p>\n</body>\n</html>\n";
}

std::string ReplayAddress(int64_t entry) { return std::string(kReplayPath) + "?id=" + std::to_string(entry); }

std::string WorldTableHtml(const std::vector<TStoredEntry>& entries, bool verifiedOnly) {
  std::string page = std::string(kPageHead) + "<title>Pellorin: world high scores</title>\n" + kStyle +
                     "</head>\n<body>\n<h1>World high scores</h1>\n";
  page += verifiedOnly ? "<p>Verified results alone, each marked &#10003;: " + std::string(kVerifiedMeans) +
                             ". Its replay played back on this server to its score. <a href=\"" +
                             WorldTableAddress() + "\">All results</a></p>\n"
                       : "<p>Results marked &#10003; are verified: " + std::string(kVerifiedMeans) +
                             ". Its replay played back on this server to its score. <a href=\"" +
                             WorldTableAddress() + "&amp;verified=1\">Verified results alone</a></p>\n";
  if (entries.empty()) {
    page += "<p>No results yet.</p>\n";
  } else {
    page +=
        "<table>\n<thead><tr><th class=\"n\">Place</th><th>Name</th><th>Country</th>"
        "<th class=\"n\">Score</th><th>Date</th><th>Verified</th></tr></thead>\n<tbody>\n";
    int place = 0;
    for (const TStoredEntry& e : entries) {
      const TCheckText check = CheckText(e.Check);
      page += "<tr><td class=\"n\">" + std::to_string(++place) + "</td><td>" + EscapeHtml(e.Name) +
              "</td><td>" + EscapeHtml(e.Country) + "</td><td class=\"n\">" + std::to_string(e.Score) +
              "</td><td>" + DateText(e.Submitted) + "</td><td>" +
              (e.Verified ? "&#10003; <a href=\"" + ReplayAddress(e.Id) + "\">replay</a>"
                          : "<small title=\"" + std::string(check.Why) + "\">" + check.Short + "</small>") +
              "</td></tr>\n";
    }
    page += "</tbody>\n</table>\n";
    page += "<p>A downloaded replay is watched with <code>pellorin --replay FILE</code>.</p>\n";
  }
  page += "<p><a href=\"/\">Pellorin</a></p>\n</body>\n</html>\n";
  return page;
}

std::string WorldTableJson(const std::vector<TStoredEntry>& entries) {
  std::string json = "{\"entries\":[";
  int place = 0;
  for (const TStoredEntry& e : entries) {
    if (place > 0) json += ",";
    json += "{\"place\":" + std::to_string(++place) + ",\"name\":\"" + EscapeJson(e.Name) +
            "\",\"country\":\"" + EscapeJson(e.Country) + "\",\"score\":" + std::to_string(e.Score) +
            ",\"date\":\"" + DateText(e.Submitted) + "\",\"verified\":" + (e.Verified ? "true" : "false");
    if (e.Verified) json += ",\"replay\":\"" + ReplayAddress(e.Id) + "\"";
    json += ",\"status\":\"" + std::string(e.Verified ? "verified" : CheckText(e.Check).Status) + "\"}";
  }
  json += "]}\n";
  return json;
}
