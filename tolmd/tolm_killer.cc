#include "tolmd/tolm_killer.h"

#include <exception>

#include "tolmd/daemon_log.h"

namespace tolmd {

TolmKiller::TolmKiller(TolmDaemon& daemon, std::function<void()> done)
    : daemon_(daemon), done_(std::move(done)) {}

void TolmKiller::run() {
  try {
    daemon_.shutdown();
  } catch (const std::exception& e) {
    daemonLog(kLogAlert, "Tolm caught exception: %s aborting", e.what());
  }
  // Told even after a failed shutdown, so the process still ends.
  done_();
}

}  // namespace tolmd
