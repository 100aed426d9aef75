// The event daemon's process: command line, single instance, detaching, pid file, listening
// socket, event database, signal plumbing, privilege drop, the service thread and the main
// loop that reads the signal pipe until the service has stopped.
#ifndef TOLMD_TOLMD_MAIN_H_
#define TOLMD_TOLMD_MAIN_H_

namespace tolmd {

// Runs tolmd with its command line; returns the process exit code (0 after a normal shutdown,
// -h, -k and in the parent after detaching; 1 for a bad option or level name, a running
// instance, a refused -k, or when the listening socket or the database cannot be had). Call
// once per process, from the main thread.
int runTolmd(int argc, char** argv);

}  // namespace tolmd

#endif  // TOLMD_TOLMD_MAIN_H_
