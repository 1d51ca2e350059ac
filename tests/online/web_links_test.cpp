#include "online/web_links.h"

#include "tests/support/game_test.h"

namespace {

TEST(ServerAddress, AcceptsSchemeHostAndPortOnly) {
  struct TCase {
    const char* Text;
    const char* Address;  // null: refused
  } cases[] = {
      {"http://localhost:8080", "http://localhost:8080"},
      {"  https://scores.example.net/\r\n", "https://scores.example.net"},
      {"http://a-b.c", "http://a-b.c"},
      {"ftp://example.org", nullptr},
      {"example.org", nullptr},
      {"http://", nullptr},
      {"http://:80", nullptr},
      {"http://example.org:", nullptr},
      {"http://example.org:0", nullptr},
      {"http://example.org:65536", nullptr},
      {"http://example.org/path", nullptr},
      {"http://exa mple.org", nullptr},
      {"http://example.org?x;rm", nullptr},
      {"", nullptr},
  };
  for (const TCase& c : cases) {
    std::string address = "unchanged";
    EXPECT_EQ(ParseServerAddress(c.Text, address), c.Address != nullptr) << c.Text;
    EXPECT_EQ(address, c.Address ? c.Address : "unchanged") << c.Text;
  }
}

class WebLinks : public TGameTest {};

TEST_F(WebLinks, ServerUrlOverridesTheBuiltInAddressOnlyWhenValid) {
  const std::string builtIn = ServerAddress();
  EXPECT_EQ(builtIn.rfind("http", 0), 0u);
  WriteFile("server.url", "https://other.example:444\nsecond line ignored\n");
  EXPECT_EQ(HomePageAddress(), "https://other.example:444/");
  WriteFile("server.url", "not an address\n");
  EXPECT_EQ(ServerAddress(), builtIn);
  OpenWorldHighScorePage();
  ASSERT_EQ(Headless.OpenedDocuments.size(), 1u);
  EXPECT_EQ(Headless.OpenedDocuments[0], builtIn + "/cgi/version.pl?prg=Pellorin&show&type=0");
}

// With no browser to start, each page's address is said in a message box, to be opened by hand; with
// one, nothing is said.
TEST_F(WebLinks, APageNoBrowserOpensIsShownWithItsAddress) {
  WriteFile("server.url", "http://scores.example:8080\n");
  OpenHomePage();
  EXPECT_TRUE(Headless.MessageBoxes.empty());
  Headless.RefuseDocuments = true;
  OpenHomePage();
  OpenWorldHighScorePage();
  ASSERT_EQ(Headless.OpenedDocuments.size(), 3u);
  ASSERT_EQ(Headless.MessageBoxes.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const std::string& address = Headless.OpenedDocuments[i + 1];
    EXPECT_EQ(Headless.MessageBoxes[i].find("No web browser could be started"), 0u)
        << Headless.MessageBoxes[i];
    EXPECT_NE(Headless.MessageBoxes[i].find("\n" + address), std::string::npos) << Headless.MessageBoxes[i];
  }
  EXPECT_EQ(Headless.OpenedDocuments[2],
            "http://scores.example:8080/cgi/version.pl?prg=Pellorin&show&type=0");
}

}  // namespace
