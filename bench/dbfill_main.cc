// bench-dbfill REGISTRATIONS EVENTS: writes the event daemon's database at its real location
// (as root: /var/lib/tolm/tolmd_event_db.dat, owned by the daemon's user) with REGISTRATIONS
// registrations spread evenly over EVENTS events named "scale.0", "scale.1", ..., through the
// daemon's own EventDb, so the file is exactly what the daemon would have written. Listener
// addresses are 127.3.x.y (one per registration of an event), port 9; nothing connects to them
// unless their event is signalled. An existing file is extended. Prints the count written.
//
// For the benchmarks only, run inside tests/sandbox/run-in-sandbox.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <arpa/inet.h>

#include "tolmd/event_db.h"
#include "tolmd/event_db_rec.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench-dbfill REGISTRATIONS EVENTS\n");
    return 2;
  }
  const unsigned long registrations = std::strtoul(argv[1], nullptr, 10);
  const unsigned long events = std::strtoul(argv[2], nullptr, 10);
  if (events == 0 || events > registrations || registrations / events > 0xfffffe) {
    std::fprintf(stderr, "bench-dbfill: need 0 < EVENTS <= REGISTRATIONS\n");
    return 2;
  }
  try {
    tolmd::EventDb db;
    db.lock();
    for (unsigned long r = 0; r < registrations; ++r) {
      const unsigned long k = r / events + 1;  // the listener's number within its event
      const uint32_t address = htonl(0x7f030000u | static_cast<uint32_t>(k));
      tolmd::EventDbRec rec("scale." + std::to_string(r % events), address, htons(9));
      db.addRec(rec);
    }
    db.sync();
    db.unlock();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench-dbfill: %s\n", e.what());
    return 1;
  }
  std::printf("%lu\n", registrations);
  return 0;
}
