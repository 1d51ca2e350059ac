#include "online/web_links.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"

#ifndef PELLORIN_SERVER_URL
#define PELLORIN_SERVER_URL "http://pellorin.example.org"
#endif

namespace {

constexpr const char* kServerFile = "server.url";
constexpr const char* kProduct = "Pellorin";

bool HostChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'; }

}  // namespace

bool ParseServerAddress(const std::string& text, std::string& address) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return false;
  size_t end = text.find_last_not_of(" \t\r\n") + 1;
  std::string s = text.substr(begin, end - begin);
  if (!s.empty() && s.back() == '/') s.pop_back();

  size_t hostAt;
  if (s.rfind("http://", 0) == 0) {
    hostAt = 7;
  } else if (s.rfind("https://", 0) == 0) {
    hostAt = 8;
  } else {
    return false;
  }
  size_t colon = s.find(':', hostAt);
  size_t hostEnd = colon == std::string::npos ? s.size() : colon;
  if (hostEnd == hostAt) return false;
  for (size_t i = hostAt; i < hostEnd; ++i)
    if (!HostChar(s[i])) return false;
  if (colon != std::string::npos) {
    size_t digits = s.size() - colon - 1;
    if (digits == 0 || digits > 5) return false;
    long port = 0;
    for (size_t i = colon + 1; i < s.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
      port = port * 10 + (s[i] - '0');
    }
    if (port < 1 || port > 65535) return false;
  }
  address = s;
  return true;
}

std::string ServerAddress() {
  std::string address = PELLORIN_SERVER_URL;
  std::string path = plat::UserFilePath(kServerFile);
  if (!plat::FileExists(path)) return address;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(path, bytes, error)) return address;
  std::string text(bytes.begin(), bytes.end());
  std::string line = text.substr(0, text.find('\n'));
  std::string parsed;
  if (ParseServerAddress(line, parsed)) address = parsed;
  return address;
}

TSaveServerResult SaveServerAddress(const std::string& text, std::string& path, std::string& error) {
  path = plat::UserFilePath(kServerFile);
  std::string address;
  if (!ParseServerAddress(text, address)) return TSaveServerResult::ssBadAddress;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !plat::MakeFolders(path.substr(0, slash), error))
    return TSaveServerResult::ssWriteFailed;
  const std::string line = address + "\n";
  if (!plat::WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(line.data()), line.size(), error))
    return TSaveServerResult::ssWriteFailed;
  return TSaveServerResult::ssSaved;
}

std::string HomePageAddress() { return ServerAddress() + "/"; }

std::string WorldHighScoreAddress() {
  return ServerAddress() + "/cgi/version.pl?prg=" + kProduct + "&show&type=0";
}

void OpenWebPage(const std::string& address) {
  if (plat::Platform().OpenDocument(address)) return;
  plat::Platform().MessageBox(
      "No web browser could be started for this page. To see it, open this address in your browser:\n" +
          address,
      kProduct);
}

void OpenHomePage() { OpenWebPage(HomePageAddress()); }

void OpenWorldHighScorePage() { OpenWebPage(WorldHighScoreAddress()); }
