#include "platform/http_client.h"

namespace plat {

THttpReply THttpClient::Get(const std::string& origin, const std::string& pathAndQuery,
                            const std::vector<std::pair<std::string, std::string>>& headers,
                            uint32_t timeoutMs) {
  return Perform(origin, pathAndQuery, headers, nullptr, timeoutMs);
}

THttpReply THttpClient::Post(const std::string& origin, const std::string& pathAndQuery,
                             const std::vector<std::pair<std::string, std::string>>& headers,
                             const std::string& body, uint32_t timeoutMs) {
  return Perform(origin, pathAndQuery, headers, &body, timeoutMs);
}

std::string THttpClient::CookieHeader() const {
  std::string cookie;
  for (const auto& [name, value] : Jar) cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
  return cookie;
}

}  // namespace plat
