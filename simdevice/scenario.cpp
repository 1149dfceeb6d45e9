// Look-ups over a parsed scenario.
#include "simdevice/scenario.h"

namespace simdevice {

std::optional<int> CallFailures::CodeFor(std::uint64_t call) const {
  auto found = atCall.find(call);
  if (found != atCall.end()) return found->second;
  return always;
}

const std::vector<std::string>& Scenario::NamesForScan(std::uint64_t scan) const {
  static const std::vector<std::string> kNothing;
  const std::vector<std::string>* names = &kNothing;
  for (const ListChange& change : lists) {
    if (change.fromScan > scan) break;
    names = &change.names;
  }
  return *names;
}

}  // namespace simdevice
