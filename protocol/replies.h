// The server's answers to the handshake, the challenge and the result, as pellorin-server writes them
// and the game reads them: each built and read here, so that the two programs cannot drift apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The handshake's reply: "OK|Pellorin|VERSION|LIFETIME|TOKEN|", the token good for tokenLifetime seconds.
std::string BuildHandshakeReply(int tokenLifetime, const std::string& token);
// The token in the handshake's reply: its fifth "|"-separated field, which is the text between the
// fourth and the fifth "|"; empty when the reply has fewer than five. Whether the reply begins with
// "OK" is the caller's test.
std::string ServerTokenFromReply(std::string_view reply);

// The result's reply: "OK", or "OK|TICKET" when the server takes the game's replay with that ticket.
std::string BuildResultReply(const std::string& ticket);
// The ticket of a result reply "OK|TICKET": the text after "OK|" when it is 1 to 64 letters and digits;
// empty for a plain "OK" or anything else.
std::string ReplayTicketFromReply(std::string_view reply);

// A challenge: a random seed the server issued for one game, named by an id that the game's result
// quotes, good for Lifetime seconds from its issue.
struct TChallenge {
  std::string Id;  // 1 to 64 letters and digits (the server issues 32 hex digits)
  uint32_t Seed = 0;
  uint32_t Lifetime = 0;  // seconds; at least 1
  bool operator==(const TChallenge&) const = default;
};

// The challenge's reply: "OK|Pellorin|VERSION|LIFETIME|ID|SEED|", the seed in plain decimal.
std::string BuildChallengeReply(const TChallenge& challenge);
// The challenge in a reply written exactly as BuildChallengeReply writes one (any version field of
// digits); nothing for anything else, such as the "Error: ..." of a server that hands out none.
std::optional<TChallenge> ChallengeFromReply(std::string_view reply);
