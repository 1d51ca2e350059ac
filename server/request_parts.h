// What the handlers read from a request beyond the HTTP layer's fields: the query as the game writes it,
// the session cookie and the client's address. Pure functions over the request.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "server/http_server.h"

inline constexpr const char* kSessionCookie = "pellorin_session";

// A query's keys, each with its value when it has an "=".
using TQuery = std::map<std::string, std::optional<std::string>>;

// The query of a target as the game writes it: "&"-separated keys, each with an optional "=value",
// taken as they are (the game's texts need no percent-encoding). Nothing when a key comes twice.
std::optional<TQuery> SplitQuery(const std::string& target);
// Whether text is 32 lower-case hex digits, as session ids and tickets are.
bool IsSessionId(std::string_view text);
// The session id the request's cookies carry; empty when none is well formed.
std::string SessionOf(const THttpRequest& req);
// The client's address: the peer's, or with trustProxy the last address a proxy added to
// X-Forwarded-For (anything before it came from the client).
std::string ClientAddress(const THttpRequest& req, bool trustProxy);
