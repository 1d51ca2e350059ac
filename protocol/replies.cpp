#include "protocol/replies.h"

#include <charconv>

#include "protocol/score_record.h"

namespace {

constexpr const char* kProtocolVersion = "1";

bool IsTicketText(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

// The "|"-ended field at the front of text, taken off it; nothing when text has no "|".
std::optional<std::string_view> TakeField(std::string_view& text) {
  const size_t bar = text.find('|');
  if (bar == std::string_view::npos) return std::nullopt;
  const std::string_view field = text.substr(0, bar);
  text.remove_prefix(bar + 1);
  return field;
}

// A plain decimal number of 32 bits: digits only, no leading zero but that of 0.
std::optional<uint32_t> PlainU32(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

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
  const std::string_view ticket = reply.substr(3);
  return IsTicketText(ticket) ? std::string(ticket) : std::string();
}

std::string BuildChallengeReply(const TChallenge& challenge) {
  return "OK|" + std::string(kProductWord) + "|" + kProtocolVersion + "|" +
         std::to_string(challenge.Lifetime) + "|" + challenge.Id + "|" + std::to_string(challenge.Seed) + "|";
}

std::optional<TChallenge> ChallengeFromReply(std::string_view reply) {
  const auto ok = TakeField(reply), product = TakeField(reply), version = TakeField(reply),
             lifetime = TakeField(reply), id = TakeField(reply), seed = TakeField(reply);
  if (!seed || !reply.empty() || *ok != "OK" || *product != kProductWord) return std::nullopt;
  if (version->empty() || version->find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const auto life = PlainU32(*lifetime), value = PlainU32(*seed);
  if (!life || *life == 0 || !value || !IsTicketText(*id)) return std::nullopt;
  return TChallenge{.Id = std::string(*id), .Seed = *value, .Lifetime = *life};
}
