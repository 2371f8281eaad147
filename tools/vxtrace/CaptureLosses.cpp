// vxtrace: the closing report's sentences, one per counted loss, the same on standard error
// and in the summary.
#include "Capture.h"

namespace vxtrace {

std::vector<std::string> LossSentences(const CaptureLosses& losses) {
  std::vector<std::string> out;
  const auto say = [&](long long count, const std::string& what) {
    if (count > 0) out.push_back(std::to_string(count) + " " + what);
  };
  say(losses.dropped, "messages lost while the output was blocked (more than " +
                          std::to_string(kQueueLimitBytes >> 20) + " MiB waiting)");
  say(losses.otherUsers, "datagrams from other users were not shown (--any-user shows them)");
  say(losses.ringDropped, "lines dropped by writers while the ring was full");
  say(losses.ringHoles, "lines begun by writers that never finished them (they ended, or stalled for a second)");
  if (losses.ringDamages > 0)
    out.push_back("trace ring damaged (" + losses.ringDamageCause + ")" +
                  (losses.ringDamages > 1 ? ", " + std::to_string(losses.ringDamages) + " times" : "") +
                  " and replaced, " + std::to_string(losses.ringLostToDamage) + " lines lost");
  say(losses.ringLostEarlier, "lines were left unread in the ring of a listener that ended before this one");
  say(losses.viewSkipped, "lines not shown while the terminal was behind (the statistics and --out keep them)");
  return out;
}

}  // namespace vxtrace
