#include "server/request_parts.h"

#include <vector>

std::optional<TQuery> SplitQuery(const std::string& target) {
  TQuery query;
  size_t question = target.find('?');
  if (question == std::string::npos) return query;
  std::string_view rest = std::string_view(target).substr(question + 1);
  while (!rest.empty()) {
    size_t amp = rest.find('&');
    std::string_view item = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key(item.substr(0, eq));
    std::optional<std::string> value;
    if (eq != std::string_view::npos) value = std::string(item.substr(eq + 1));
    if (!query.emplace(std::move(key), std::move(value)).second) return std::nullopt;
  }
  return query;
}

bool IsSessionId(std::string_view text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string SessionOf(const THttpRequest& req) {
  const std::string prefix = std::string(kSessionCookie) + "=";
  for (const std::string& header : req.HeaderValues("Cookie")) {
    std::string_view cookies = header;
    while (!cookies.empty()) {
      size_t semi = cookies.find(';');
      std::string_view item = cookies.substr(0, semi);
      cookies = semi == std::string_view::npos ? std::string_view() : cookies.substr(semi + 1);
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
      if (item.substr(0, prefix.size()) == prefix && IsSessionId(item.substr(prefix.size())))
        return std::string(item.substr(prefix.size()));
    }
  }
  return {};
}

std::string ClientAddress(const THttpRequest& req, bool trustProxy) {
  if (trustProxy) {
    // The proxy appends the address it saw, to the last field; anything before it came from the client.
    const std::vector<std::string> forwarded = req.HeaderValues("X-Forwarded-For");
    if (!forwarded.empty()) {
      const std::string& field = forwarded.back();
      size_t comma = field.rfind(',');
      std::string last = comma == std::string::npos ? field : field.substr(comma + 1);
      size_t begin = last.find_first_not_of(" \t");
      size_t end = last.find_last_not_of(" \t");
      if (begin != std::string::npos) return last.substr(begin, end - begin + 1);
    }
  }
  return req.RemoteAddress;
}
