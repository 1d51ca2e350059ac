// The native build's transport of THttpClient: libcurl.
#include "platform/http_client.h"

#include <curl/curl.h>

#include <cctype>
#include <mutex>

namespace plat {

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Keeps name=value of each Set-Cookie header; attributes after the first ";" are not needed here.
size_t ReadHeader(char* data, size_t size, size_t count, void* target) {
  auto& jar = *static_cast<std::map<std::string, std::string>*>(target);
  const std::string line(data, size * count);
  const std::string prefix = "set-cookie:";
  if (line.size() > prefix.size()) {
    std::string head = line.substr(0, prefix.size());
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (head == prefix) {
      std::string cookie = line.substr(prefix.size());
      cookie = cookie.substr(0, cookie.find_first_of(";\r\n"));
      const size_t start = cookie.find_first_not_of(' ');
      const size_t equals = cookie.find('=');
      if (start != std::string::npos && equals != std::string::npos && equals > start)
        jar[cookie.substr(start, equals - start)] = cookie.substr(equals + 1);
    }
  }
  return size * count;
}

int CheckAbort(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<THttpClient*>(client)->Abort.load() ? 1 : 0;
}

}  // namespace

struct THttpClient::TTransport {
  CURL* Handle = nullptr;
};

THttpClient::THttpClient() : Transport(std::make_unique<TTransport>()) {
  InitCurlOnce();
  Transport->Handle = curl_easy_init();
}

THttpClient::~THttpClient() {
  if (Transport->Handle) curl_easy_cleanup(Transport->Handle);
}

THttpReply THttpClient::Perform(const std::string& origin, const std::string& pathAndQuery,
                                const std::vector<std::pair<std::string, std::string>>& headers,
                                const std::string* body, uint32_t timeoutMs) {
  THttpReply reply;
  CURL* curl = Transport->Handle;
  if (!curl || Abort.load()) {
    reply.Error = curl ? "aborted" : "the HTTP library could not be started";
    return reply;
  }
  curl_easy_reset(curl);
  const std::string url = origin + pathAndQuery;
  // Our headers in our order; an empty "Accept:"-style entry would remove curl's own, and naming Host,
  // Accept and User-Agent ourselves keeps curl from adding its versions.
  curl_slist* list = nullptr;
  for (const auto& [name, value] : headers) list = curl_slist_append(list, (name + ": " + value).c_str());
  if (body != nullptr) list = curl_slist_append(list, "Expect:");
  if (!Jar.empty()) list = curl_slist_append(list, ("Cookie: " + CookieHeader()).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (body != nullptr) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.Body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, ReadHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &Jar);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckAbort);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  const CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(list);
  if (code != CURLE_OK) {
    reply.Error = curl_easy_strerror(code);
    reply.Body.clear();
    return reply;
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
  reply.Completed = true;
  return reply;
}

}  // namespace plat
