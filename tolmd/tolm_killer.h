// TolmKiller: the short-lived thread that stops the service on SIGTERM/SIGINT, so that the
// main thread keeps reading the signal pipe meanwhile.
//
// Holds a reference to the service (not owned). run() calls TolmDaemon::shutdown() and then
// `done`, which tells the main loop that the service has stopped. The thread library deletes
// the object when run() has ended (postRunDeleteCheck() is true): create it with new, start it,
// and keep no pointer to it.
#ifndef TOLMD_TOLM_KILLER_H_
#define TOLMD_TOLM_KILLER_H_

#include <functional>

#include "outside/thread.h"
#include "tolmd/tolm_daemon.h"

namespace tolmd {

class TolmKiller : public teska::Thread {
 public:
  TolmKiller(TolmDaemon& daemon, std::function<void()> done);

  void run() override;
  bool postRunDeleteCheck() override { return true; }

 private:
  TolmDaemon& daemon_;
  std::function<void()> done_;
};

}  // namespace tolmd

#endif  // TOLMD_TOLM_KILLER_H_
