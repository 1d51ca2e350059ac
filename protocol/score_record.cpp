#include "protocol/score_record.h"

#include <cassert>
#include <cstdio>

namespace {

constexpr std::string_view kResultQuery = "hs&prg=Pellorin&inf=";
// The record's fields in order; the value of each runs to the next "|" (the fill follows "z=").
constexpr std::string_view kFieldNames[] = {"type=", "name=", "score=", "key=", "p=", "add=", "z="};
constexpr int kFieldCount = 7;

// A character of the input as a message may quote it.
std::string Quoted(char c) {
  auto code = static_cast<unsigned char>(c);
  char text[16];
  if (code >= 0x20 && code < 0x7F)
    std::snprintf(text, sizeof text, "'%c'", c);
  else
    std::snprintf(text, sizeof text, "byte 0x%02X", code);
  return text;
}

int SymbolValue(char c) {
  size_t at = kSymbolAlphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

void CheckEntryText(std::string_view text, const char* field) {
  if (text.size() > kEntryTextMax)
    throw ERecordError("The %s has %zu characters; at most %zu are allowed", field, text.size(),
                       kEntryTextMax);
  if (!IsEntryText(text))
    throw ERecordError("The %s holds a character other than a letter, a digit or a blank", field);
}

uint16_t ParseScore(std::string_view digits) {
  if (digits.empty()) throw ERecordError("The score is empty");
  if (digits.size() > 1 && digits[0] == '0') throw ERecordError("The score has a leading zero");
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') throw ERecordError("The score holds %s, which is not a digit", Quoted(c).c_str());
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 65535) throw ERecordError("The score is above 65535");
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

bool IsEntryText(std::string_view text) {
  if (text.size() > kEntryTextMax) return false;
  for (char c : text) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != ' ') return false;
  }
  return true;
}

std::string BuildScoreRecord(const TScoreRecord& record) {
  std::string text = "type=0|name=" + record.Name + "|score=" + std::to_string(record.Score) +
                     "|key=" + std::string(1, record.Key) + "|p=" + record.Token + "|add=" + record.Country +
                     "|z=";
  text.append((5 - text.size() % 5) % 5, '0');
  return text;
}

TScoreRecord ParseScoreRecord(std::string_view text) {
  std::string_view values[kFieldCount];
  std::string_view rest = text;
  for (int i = 0; i < kFieldCount; ++i) {
    const std::string_view name = kFieldNames[i];
    if (rest.substr(0, name.size()) != name)
      throw ERecordError("Field %d of the record does not begin with \"%.*s\"", i + 1,
                         static_cast<int>(name.size()), name.data());
    rest.remove_prefix(name.size());
    size_t bar = i + 1 < kFieldCount ? rest.find('|') : rest.size();
    if (bar == std::string_view::npos)
      throw ERecordError("The record ends inside field %d; it has only %d of %d fields", i + 1, i + 1,
                         kFieldCount);
    values[i] = rest.substr(0, bar);
    rest.remove_prefix(bar == rest.size() ? bar : bar + 1);
  }

  if (values[0] != "0") throw ERecordError("The record's type is not 0");
  TScoreRecord record;
  CheckEntryText(values[1], "name");
  record.Name = values[1];
  record.Score = ParseScore(values[2]);
  if (values[3].size() != 1 || values[3][0] < 'A' || values[3][0] > 'Z')
    throw ERecordError("The key is not one upper-case letter");
  record.Key = values[3][0];
  record.Token = values[4];
  CheckEntryText(values[5], "country");
  record.Country = values[5];

  const std::string_view fill = values[6];
  if (fill.find_first_not_of('0') != std::string_view::npos)
    throw ERecordError("The fill after \"z=\" holds something other than \"0\"");
  if (text.size() % 5 != 0 || fill.size() >= 5)
    throw ERecordError(
        "The record has %zu characters with a fill of %zu; the shortest fill to a multiple of 5 "
        "is expected",
        text.size(), fill.size());
  return record;
}

std::string BytesToBits(std::string_view text) {
  std::string bits;
  bits.reserve(text.size() * 8);
  for (char c : text) {
    auto code = static_cast<unsigned char>(c);
    for (int bit = 7; bit >= 0; --bit) bits.push_back((code >> bit) & 1 ? '1' : '0');
  }
  return bits;
}

std::string BitsToSymbols(std::string bits) {
  if (bits.size() % 5 != 0) bits.insert(0, 5 - bits.size() % 5, '0');
  std::string symbols;
  symbols.reserve(bits.size() / 5);
  for (size_t at = 0; at < bits.size(); at += 5) {
    size_t value = 0;
    for (size_t i = at; i < at + 5; ++i) {
      assert(bits[i] == '0' || bits[i] == '1');  // BitsToSymbols: a bit text holds only 0 and 1
      value = value * 2 + (bits[i] == '1' ? 1 : 0);
    }
    symbols.push_back(kSymbolAlphabet[value]);
  }
  return symbols;
}

std::string SymbolsToBytes(std::string_view symbols) {
  // The encoder put fewer than five "0" bits in front of the 8 x n bits of n bytes, so 5 x count bits
  // hold n = (5 x count) div 8 bytes behind (5 x count) mod 8 padding bits.
  const size_t totalBits = symbols.size() * 5;
  const size_t padBits = totalBits % 8;
  if (padBits >= 5)
    throw ERecordError("%zu symbols do not encode whole bytes (%zu bits are left over)", symbols.size(),
                       padBits);

  std::string bytes;
  bytes.reserve(totalBits / 8);
  uint32_t pending = 0;  // bits not yet in a byte, the oldest highest
  size_t pendingCount = 0;
  for (size_t i = 0; i < symbols.size(); ++i) {
    int value = SymbolValue(symbols[i]);
    if (value < 0)
      throw ERecordError("The %s at position %zu is not one of the 32 symbols", Quoted(symbols[i]).c_str(),
                         i + 1);
    pending = (pending << 5) | static_cast<uint32_t>(value);
    pendingCount += 5;
    if (i == 0 && padBits > 0) {
      if (pending >> (pendingCount - padBits) != 0)
        throw ERecordError("The padding bits before the first byte are not zero");
      pendingCount -= padBits;
      pending &= (1u << pendingCount) - 1;
    }
    if (pendingCount >= 8) {
      pendingCount -= 8;
      bytes.push_back(static_cast<char>(static_cast<unsigned char>(pending >> pendingCount)));
      pending &= (1u << pendingCount) - 1;
    }
  }
  return bytes;
}

std::string BuildResultQuery(const std::string& name, const std::string& country, uint16_t score, char key,
                             const std::string& token) {
  TScoreRecord record{name, score, key, token, country};
  return std::string(kResultQuery) + BitsToSymbols(BytesToBits(BuildScoreRecord(record)));
}

TScoreRecord DecodeResultSymbols(std::string_view symbols) {
  return ParseScoreRecord(SymbolsToBytes(symbols));
}
