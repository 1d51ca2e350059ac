// libFuzzer target: what pellorin-server reads from outside when a replay is uploaded and checked: the
// ticket in a result's answer (as the game reads it) and the verifier's exit status, output and errors.
// The first byte chooses: even, the rest is a result's answer; odd, the next byte is the exit status
// (255: killed), two more the entry's score, and the rest the output and the errors, split at the first
// NUL. A verdict is verified only for an exit status 0 whose answer says "equal" with the entry's score,
// and a refusal always says why, in at most a few hundred printable characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "server/verifier_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string ticket = ReplayTicketFromReply(reply);
    if (!ticket.empty() && reply != "OK|" + ticket) std::abort();
    if (ticket.size() > 64 ||
        ticket.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") !=
            std::string::npos)
      std::abort();
    return 0;
  }
  if (size < 4) return 0;
  const int status = data[1] == 255 ? -1 : data[1];
  const auto score = static_cast<uint16_t>(data[2] | data[3] << 8);
  const std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const size_t nul = rest.find('\0');
  const std::string output = rest.substr(0, nul);
  const std::string errors = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
  const TVerdict verdict =
      ReadVerifierOutput(status, output, errors, score, status == -1 ? "it was killed" : "");
  if (verdict.Verified) {
    if (status != 0 || !verdict.Reason.empty()) std::abort();
    if (output.find(",\"result\":\"equal\"}") == std::string::npos) std::abort();
    if (output.find(",\"score\":" + std::to_string(score)) == std::string::npos) std::abort();
  } else {
    if (verdict.Reason.empty() || verdict.Reason.size() > 500) std::abort();
    for (char c : verdict.Reason)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) std::abort();
  }
  return 0;
}
