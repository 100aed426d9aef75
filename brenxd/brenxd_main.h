// The agent's process: command line, single instance, detaching, listening socket, pid file,
// signal pipe, SLP advertisement, configuration, privilege drop, and the one-thread loop that
// serves signals and workstations until a shutdown signal.
#ifndef BRENXD_BRENXD_MAIN_H_
#define BRENXD_BRENXD_MAIN_H_

namespace brenxd {

// The fixed configuration file.
inline constexpr char kConfigPath[] = "/etc/opt/nvo/brenxd.conf";

// Runs brenxd with its command line; returns the exit code: 0 after a normal shutdown, -h, a
// sent (or silently failed) -k and in the parent after detaching; 1 for a bad option or level
// name and when the listening socket cannot be had; 255 when another instance runs, -k finds
// none or may not stop it, SLP registration fails or the configuration cannot be read at start.
// Call once per process, from the main thread.
int runBrenxd(int argc, char** argv);

}  // namespace brenxd

#endif  // BRENXD_BRENXD_MAIN_H_
