// A host's literal traced N times (100,000 by default) with a listener draining the ring, and
// nothing else: for counting what a traced line costs in instructions, which a shared machine
// does not disturb.
//
//   valgrind --tool=callgrind --toggle-collect='vx380::ErrorLog::DebugTrace*' build/native/bench/vx380_literal_loop [N]
//
// prints "Collected : C"; C / N is a line's instructions, from the call to the ring's commit.
#include <cstdlib>

#include "BenchSupport.h"
#include "vx380/ErrorLog.h"

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 100000;
  vx380::bench::ChannelListener socket;
  vx380::bench::RingListener ring;
  vx380::ErrorLog log;
  for (long i = 0; i < lines; ++i) log.DebugTrace(u"RBDEBUG: LoadDrawing reached step 12 ok");
  return ring.dropped() == 0 ? 0 : 1;
}
