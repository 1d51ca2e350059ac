// The browser build's HTTP client: requests are not made from the page yet, so each one fails at once
// as a request with no answer would, and the game goes on as when its server cannot be reached.
#include "platform/http_client.h"

namespace plat {

struct THttpClient::TTransport {};

THttpClient::THttpClient() : Transport(std::make_unique<TTransport>()) {}
THttpClient::~THttpClient() = default;

THttpReply THttpClient::Perform(const std::string&, const std::string&,
                                const std::vector<std::pair<std::string, std::string>>&, const std::string*,
                                uint32_t) {
  THttpReply reply;
  reply.Error = "this build makes no requests";
  return reply;
}

}  // namespace plat
