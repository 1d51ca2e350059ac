// libFuzzer target: the decoder of the world high-score results. The first byte chooses what the rest
// is: the symbols of an "inf" value (even) or a record text (odd). Anything either decodes or fails with
// ERecordError; what decodes encodes back to exactly the same input, and a record that parses holds
// only what the game could have sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/score_record.h"

namespace {

void CheckRecord(const std::string& text) {
  TScoreRecord record;
  try {
    record = ParseScoreRecord(text);
  } catch (const ERecordError&) {
    return;
  }
  if (BuildScoreRecord(record) != text) std::abort();
  if (!IsEntryText(record.Name) || !IsEntryText(record.Country)) std::abort();
  if (record.Key < 'A' || record.Key > 'Z' || record.Token.find('|') != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 1) {
    CheckRecord(input);
    return 0;
  }
  std::string bytes;
  try {
    bytes = SymbolsToBytes(input);
  } catch (const ERecordError&) {
    return 0;
  }
  if (BitsToSymbols(BytesToBits(bytes)) != input) std::abort();
  CheckRecord(bytes);
  return 0;
}
