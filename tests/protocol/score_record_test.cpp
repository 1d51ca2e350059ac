#include "protocol/score_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/replies.h"

namespace {

std::string Encode(const std::string& text) { return BitsToSymbols(BytesToBits(text)); }

TEST(SymbolEncoding, BitsAndSymbolsMostSignificantFirst) {
  EXPECT_EQ(BytesToBits(std::string("\x80\x01\xFF", 3)), "100000000000000111111111");
  EXPECT_EQ(BytesToBits(""), "");
  // A bit text that is not a multiple of 5 gets "0" in front, not behind.
  EXPECT_EQ(BitsToSymbols("111111"), "B9");
  EXPECT_EQ(BitsToSymbols("00000000010001000011"), "ABCD");
  EXPECT_EQ(Encode("abc00"), "NFTGGNBS");
}

TEST(SymbolEncoding, SymbolsToBytesGivesEveryTextBack) {
  std::vector<std::string> texts = {"", "a", "ab", "abc", "abcd", "abcde", "type=0|name=Ann|z=0"};
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  for (size_t length = 1; length <= 13; ++length)
    texts.push_back(all.substr(256 - length * 19 % 256, length));
  texts.push_back(all);
  for (const std::string& text : texts) {
    std::string symbols = Encode(text);
    EXPECT_EQ(symbols.size(), (text.size() * 8 + 4) / 5);
    EXPECT_EQ(SymbolsToBytes(symbols), text) << symbols;
  }
}

TEST(SymbolEncoding, SymbolsToBytesRefusesWhatNoTextEncodesTo) {
  struct TCase {
    const char* Symbols;
    const char* Message;  // a part of the error
  } cases[] = {
      {"NFTGGNBI", "'I' at position 8"},  // I, O, Z and 0 are not symbols, nor are lower-case letters
      {"OFTGGNBS", "'O' at position 1"},  //
      {"NFTZGNBS", "'Z' at position 4"},  //
      {"NFTG0NBS", "'0' at position 5"},  //
      {"nFTGGNBS", "'n' at position 1"},  //
      {"NFTGGNB%", "'%' at position 8"},  //
      {"NFTGGNB\x01", "byte 0x01"},       //
      {"A", "1 symbols"},                 // 5 bits: no byte
      {"ABC", "3 symbols"},               // 15 bits: one byte and 7 left over
      {"NFTGGNBSA", "9 symbols"},         // 45 bits
      {"9A", "padding bits"},             // 10 bits: 2 of padding, which must be 0
      {"JA", "padding bits"},             // 01000 00000: the second padding bit set
  };
  for (const TCase& c : cases) {
    try {
      SymbolsToBytes(c.Symbols);
      ADD_FAILURE() << c.Symbols << " was accepted";
    } catch (const ERecordError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Symbols << ": " << e.what();
    }
  }
  EXPECT_EQ(SymbolsToBytes("DA"), "`");  // 00011 00000: padding 00, byte 01100000
}

TEST(ScoreRecord, BuildsTheFieldsInOrderWithTheShortestFill) {
  EXPECT_EQ(BuildScoreRecord({"", 0, 'P', "", ""}), "type=0|name=|score=0|key=P|p=|add=|z=000");
  EXPECT_EQ(BuildScoreRecord({"Ann Lee", 65535, 'K', "T0k", "Wales"}),
            "type=0|name=Ann Lee|score=65535|key=K|p=T0k|add=Wales|z=0000");
  // 45 characters before the fill get none; 46 get four.
  std::string record45 = BuildScoreRecord({"ABCDE", 1000, 'P', "", ""});
  EXPECT_EQ(record45, "type=0|name=ABCDE|score=1000|key=P|p=|add=|z=");
  EXPECT_EQ(record45.size(), 45u);
  EXPECT_EQ(BuildScoreRecord({"ABCDEF", 1000, 'P', "", ""}),
            "type=0|name=ABCDEF|score=1000|key=P|p=|add=|z=0000");
}

TEST(ScoreRecord, ResultQueryDecodesToTheSameRecord) {
  const TScoreRecord records[] = {
      {"", 0, 'A', "", ""},
      {"Anonymous", 1000, 'P', "0123456789abcdef", "Norway"},
      {"ZZZZZZZZZZ", 65535, 'Z', std::string(40, 'x'), "1234567890"},
      {"  a 1  ", 7, 'M', "tok", " "},
  };
  for (const TScoreRecord& r : records) {
    std::string query = BuildResultQuery(r.Name, r.Country, r.Score, r.Key, r.Token);
    ASSERT_EQ(query.rfind("hs&prg=Pellorin&inf=", 0), 0u) << query;
    std::string inf = query.substr(20);
    EXPECT_EQ(inf, Encode(BuildScoreRecord(r)));
    EXPECT_EQ(inf.find_first_not_of(kSymbolAlphabet), std::string::npos);
    TScoreRecord back = DecodeResultSymbols(inf);
    EXPECT_EQ(back.Name, r.Name);
    EXPECT_EQ(back.Score, r.Score);
    EXPECT_EQ(back.Key, r.Key);
    EXPECT_EQ(back.Token, r.Token);
    EXPECT_EQ(back.Country, r.Country);
  }
}

TEST(ScoreRecord, ParseRefusesEveryRecordTheGameCannotBuild) {
  struct TCase {
    const char* Record;
    const char* Message;  // a part of the error
  } cases[] = {
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales|z=0000", nullptr},
      {"type=1|name=Ann|score=5|key=P|p=t|add=Wales|z=0000", "type"},
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales|z=0000000", "fill"},    // a fill of 7
      {"type=0|name=Annabel|score=5|key=P|p=t|add=Wales|z=00000", "fill"},  // 50 before the fill, then five
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales|z=", "fill"},           // 46 characters
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales|z=0x", "fill"},
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales|z=00|", "fill"},
      {"type=0|name=Anna Maria B|score=5|key=P|p=t|add=|z=", "name has 12"},
      {"type=0|name=Ann-Li|score=5|key=P|p=t|add=Wales|z=0", "name holds"},
      {"type=0|name=<b>|score=5|key=P|p=t|add=Wales|z=0000", "name holds"},
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales<>|z=00", "country holds"},
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales Wales|z=000", "country has 11"},
      {"type=0|name=Ann|score=65536|key=P|p=t|add=Wales|z=", "above 65535"},
      {"type=0|name=Ann|score=99999999999|key=P|p=t|add=|z=0000", "above 65535"},
      {"type=0|name=Ann|score=05|key=P|p=t|add=Wales|z=000", "leading zero"},
      {"type=0|name=Ann|score=-5|key=P|p=t|add=Wales|z=000", "not a digit"},
      {"type=0|name=Ann|score=|key=P|p=t|add=Wales|z=", "empty"},
      {"type=0|name=Ann|score=5|key=p|p=t|add=Wales|z=0000", "key"},
      {"type=0|name=Ann|score=5|key=PP|p=t|add=Wales|z=000", "key"},
      {"type=0|name=Ann|score=5|key=|p=t|add=Wales|z=", "key"},
      {"type=0|name=Ann|score=5|p=t|key=P|add=Wales|z=00", "Field 4"},
      {"type=0|name=Ann|score=5|key=P|p=t|add=Wales", "ends inside field 6"},
      {"type=0|name=Ann|score=1|score=5|key=P|p=t|add=|z=", "Field 4"},  // a "|" smuggled in the name
      {"", "Field 1"},
  };
  for (const TCase& c : cases) {
    std::string record = c.Record;
    if (c.Message == nullptr) {
      EXPECT_EQ(ParseScoreRecord(record).Country, "Wales");
      continue;
    }
    try {
      ParseScoreRecord(record);
      ADD_FAILURE() << record << " was accepted";
    } catch (const ERecordError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << record << ": " << e.what();
    }
  }
}

TEST(ScoreRecord, EntryTextIsTenLettersDigitsOrBlanks) {
  EXPECT_TRUE(IsEntryText(""));
  EXPECT_TRUE(IsEntryText("Az 09 zA  "));
  EXPECT_FALSE(IsEntryText("Az 09 zA  x"));
  for (const char* bad : {"a|b", "a&b", "a=b", "\xC3\xA9", "tab\t"}) EXPECT_FALSE(IsEntryText(bad)) << bad;
  EXPECT_FALSE(IsEntryText(std::string("a\0b", 3)));
}

TEST(ServerToken, IsTheTextBetweenTheFourthAndFifthBar) {
  struct TCase {
    std::string Reply;
    std::string Token;
  } cases[] = {
      {"OK|a|b|c|T|x", "T"},
      {"OK|a|b|c|T|", "T"},
      {"OK|a|b|c|T", ""},  // only four "|"
      {"OK|a|b|c||x", ""},
      {"OK", ""},
      {"OK|||||", ""},
      {"OK|a|b|c|T|x|y|z", "T"},
      // Long fields do not confuse the split (a position kept in 8 bits would).
      {"OK|" + std::string(300, 'a') + "|b|c|" + std::string(260, 'T') + "|", std::string(260, 'T')},
  };
  for (const TCase& c : cases) EXPECT_EQ(ServerTokenFromReply(c.Reply), c.Token) << c.Reply;
}

// What the server builds, the game reads back: the token of a handshake, the ticket of a result.
TEST(ServerReplies, ReadBackWhatTheServerBuilds) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  const std::string handshake = BuildHandshakeReply(600, token);
  EXPECT_EQ(handshake, "OK|Pellorin|1|600|" + token + "|");
  EXPECT_EQ(ServerTokenFromReply(handshake), token);
  EXPECT_EQ(BuildResultReply(""), "OK");
  EXPECT_EQ(ReplayTicketFromReply(BuildResultReply("")), "");
  EXPECT_EQ(ReplayTicketFromReply(BuildResultReply(token)), token);
}

// A challenge reads back only as it was written: a server of another kind, or one that hands out none
// ("Error: ..."), gives the game no seed to play from.
TEST(ServerReplies, ChallengeReadsBackOnlyAsWritten) {
  const TChallenge challenge{.Id = "0123456789abcdef0123456789abcdef", .Seed = 4294967295u, .Lifetime = 86400};
  const std::string reply = BuildChallengeReply(challenge);
  EXPECT_EQ(reply, "OK|Pellorin|1|86400|0123456789abcdef0123456789abcdef|4294967295|");
  EXPECT_EQ(ChallengeFromReply(reply), challenge);
  EXPECT_EQ(ChallengeFromReply("OK|Pellorin|12|1|a|0|"), (TChallenge{.Id = "a", .Seed = 0, .Lifetime = 1}));
  for (const char* bad : {
           "Error: this server checks no replays",
           "OK|Pellorin|1|600|abc|",              // no seed
           "OK|Pellorin|1|600|abc|7|x",           // something after the last field
           "OK|Pellorin|1|600|abc|4294967296|",   // a seed past 32 bits
           "OK|Pellorin|1|600|abc|07|",           // a leading zero
           "OK|Pellorin|1|600|abc|-7|",           // a sign
           "OK|Pellorin|1|0|abc|7|",              // a lifetime of nothing
           "OK|Pellorin|v1|600|abc|7|",           // a version of letters
           "OK|Pellorin|1|600||7|",               // no id
           "OK|Pellorin|1|600|a/b|7|",            // an id the result query could not carry
           "OK|Other|1|600|abc|7|",               // another game's server
           "ok|Pellorin|1|600|abc|7|",
       })
    EXPECT_EQ(ChallengeFromReply(bad), std::nullopt) << bad;
  EXPECT_EQ(ChallengeFromReply("OK|Pellorin|1|600|" + std::string(65, 'a') + "|7|"), std::nullopt);
}

#ifdef PELLORIN_FUZZ_INPUTS
// The fuzzer's seeds are valid records, written by a second encoder (fuzz/make_seeds.py); its kept
// regressions must be refused or decode without harm.
TEST(ScoreRecord, FuzzInputsReplay) {
  namespace fs = std::filesystem;
  int seeds = 0;
  for (const char* set : {"seeds", "regressions"}) {
    fs::path dir = fs::path(PELLORIN_FUZZ_INPUTS) / set / "score_record";
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ASSERT_FALSE(bytes.empty());
      const bool seed = std::string(set) == "seeds";
      std::string rest = bytes.substr(1);
      try {
        std::string record = bytes[0] % 2 == 1 ? rest : SymbolsToBytes(rest);
        EXPECT_EQ(BuildScoreRecord(ParseScoreRecord(record)), record);
      } catch (const ERecordError& e) {
        EXPECT_FALSE(seed) << e.what();
      }
      seeds += seed;
    }
  }
  EXPECT_GE(seeds, 6);
}
#endif

}  // namespace
