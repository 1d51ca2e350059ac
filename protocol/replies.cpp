#include "protocol/replies.h"

#include "protocol/score_record.h"

namespace {

constexpr const char* kProtocolVersion = "1";

}  // namespace

std::string BuildHandshakeReply(int tokenLifetime, const std::string& token) {
  // The game takes the fifth "|"-separated field as the token.
  return "OK|" + std::string(kProductWord) + "|" + kProtocolVersion + "|" + std::to_string(tokenLifetime) +
         "|" + token + "|";
}

std::string BuildResultReply(const std::string& ticket) { return ticket.empty() ? "OK" : "OK|" + ticket; }

std::string ServerTokenFromReply(std::string_view reply) {
  std::string_view field;
  for (int pass = 0; pass < 5; ++pass) {
    size_t bar = reply.find('|');
    if (bar == std::string_view::npos) {
      field = {};
      continue;
    }
    field = reply.substr(0, bar);
    reply.remove_prefix(bar + 1);
  }
  return std::string(field);
}

std::string ReplayTicketFromReply(std::string_view reply) {
  if (reply.substr(0, 3) != "OK|") return {};
  std::string_view ticket = reply.substr(3);
  if (ticket.empty() || ticket.size() > 64) return {};
  for (char c : ticket)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
  return std::string(ticket);
}
