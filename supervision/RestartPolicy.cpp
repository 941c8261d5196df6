#include "supervision/RestartPolicy.h"

#include <algorithm>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool ParseCode(const std::string& text, uint32_t& code) {
  size_t from = 0, to = text.size();
  while (from < to && IsBlank(text[from])) ++from;
  while (to > from && IsBlank(text[to - 1])) --to;
  bool negative = from < to && text[from] == '-';
  if (negative) ++from;
  if (from == to || to - from > 10) return false;
  uint64_t value = 0;
  for (size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + uint64_t(text[i] - '0');
  }
  if (value > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
  // A negative code is the same 32 bits as the status Windows reports.
  code = negative ? uint32_t(0 - value) : uint32_t(value);
  return true;
}

}  // namespace

bool ParseExitCodes(const std::string& text, std::vector<uint32_t>& codes) {
  std::vector<uint32_t> parsed;
  size_t from = 0;
  for (;;) {
    size_t comma = text.find(',', from);
    uint32_t code = 0;
    if (!ParseCode(text.substr(from, comma == std::string::npos ? comma : comma - from), code))
      return false;
    parsed.push_back(code);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  codes = parsed;
  return true;
}

bool IsFailure(const tclFailurePolicy& policy, tclRunEnd end, uint32_t exitCode) {
  if (end != tclRunEnd::Exited) return true;
  const std::vector<uint32_t>& ok = policy.SuccessCodes;
  return std::find(ok.begin(), ok.end(), exitCode) == ok.end();
}

tclRestartVerdict DecideRestart(const tclFailurePolicy& policy, tclRunEnd end, uint32_t exitCode,
                                const std::vector<DWORD>& restarts, DWORD now) {
  if (policy.OnFailureOnly && !IsFailure(policy, end, exitCode))
    return tclRestartVerdict::NotRestarted;
  if (policy.MaxRestarts == 0) return tclRestartVerdict::Restart;
  // Differences of ticks, so the wrap after 49 days changes nothing.
  size_t recent = size_t(std::count_if(restarts.begin(), restarts.end(), [&](DWORD at) {
    return DWORD(now - at) < policy.RestartWindow;
  }));
  return recent >= policy.MaxRestarts ? tclRestartVerdict::GiveUp : tclRestartVerdict::Restart;
}

bool RestartsAlike(const tclFailurePolicy& a, const tclFailurePolicy& b) {
  return a.OnFailureOnly == b.OnFailureOnly && a.SuccessCodes == b.SuccessCodes &&
         a.MaxRestarts == b.MaxRestarts && a.RestartWindow == b.RestartWindow;
}

std::string EventWord(tclRunEnd end, tclRestartVerdict verdict) {
  if (verdict == tclRestartVerdict::GiveUp) return "gaveup";
  return end == tclRunEnd::Hung ? "hung" : end == tclRunEnd::Unhealthy ? "unhealthy" : "exit";
}
