// The world high-score record as the game sends it and pellorin-server reads it back: the record text,
// its 32-symbol encoding and the query texts of the handshake and the result (the replies are in
// replies.h). Plain functions over strings with no state of their own; the game's online code and the
// server both link this one implementation, so the two ends cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"

// Symbol value v (0 to 31) is the character at position v; there is no I, O, Z or 0.
inline constexpr std::string_view kSymbolAlphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789";
inline constexpr std::string_view kProductWord = "Pellorin";
inline constexpr std::string_view kScriptPath = "/cgi/version.pl";
inline constexpr std::string_view kHandshakeQuery = "version&prg=Pellorin";
// The request for a challenge: a seed the server hands out for one game whose result it is to verify
// (the reply in replies.h). The result of that game quotes the challenge: kChallengeParameter and its
// id after the result query.
inline constexpr std::string_view kChallengeQuery = "challenge&prg=Pellorin";
inline constexpr std::string_view kChallengeParameter = "&challenge=";
// Where a game's replay goes (POST, "?ticket=" and the result reply's ticket) and is downloaded from
// ("?id=" and the entry).
inline constexpr std::string_view kReplayPath = "/cgi/replay";
inline constexpr size_t kEntryTextMax = 10;  // characters of a name or a country

// A symbol text or record that cannot be read back; the message says what is wrong and where, and
// quotes nothing of the input but printable ASCII.
using ERecordError = EAreaError<struct TRecordArea>;

struct TScoreRecord {
  std::string Name;     // at most 10 letters, digits and blanks; may be empty
  uint16_t Score = 0;   // sent in decimal, no sign, no leading zeros
  char Key = 'A';       // the build's key letter, one of A to Z
  std::string Token;    // the token of the handshake's reply; empty when it had none
  std::string Country;  // as Name
};

// Whether text is at most 10 ASCII letters, digits and blanks (what the name entry lets through).
bool IsEntryText(std::string_view text);

// "type=0|name=N|score=S|key=K|p=T|add=C|z=" followed by "0" up to the next multiple of 5 characters.
// The fields go in as they are: nothing is escaped or checked here.
std::string BuildScoreRecord(const TScoreRecord& record);
// The reverse, checking everything BuildScoreRecord guarantees for a valid record: the seven fields in
// order, type 0, name and country as IsEntryText, the score, one upper-case key letter, a token without
// "|", and the shortest fill. Throws ERecordError.
TScoreRecord ParseScoreRecord(std::string_view text);

// Each character's 8-bit code as eight "0"/"1" characters, most significant bit first.
std::string BytesToBits(std::string_view text);
// Puts "0" in front of bits up to a multiple of 5, then one symbol per five bits, most significant
// first. bits holds only "0" and "1".
std::string BitsToSymbols(std::string bits);
// The reverse of BitsToSymbols(BytesToBits(text)): gives text back. Throws ERecordError for a character
// outside the alphabet, a count of symbols that no text encodes to, or padding bits that are not zero.
std::string SymbolsToBytes(std::string_view symbols);

// The query of the result request: "hs&prg=Pellorin&inf=" and the encoded record.
std::string BuildResultQuery(const std::string& name, const std::string& country, uint16_t score, char key,
                             const std::string& token);
// The record that an "inf" value carries: SymbolsToBytes, then ParseScoreRecord. Throws ERecordError.
TScoreRecord DecodeResultSymbols(std::string_view symbols);
