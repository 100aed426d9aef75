// The bench programs' directories: private slapd servers of the test support with the
// gateway's schema, indexes and access rules (SlapdOptions::directoryModel), their fixtures
// loaded with slapadd, and the LDIF those fixtures are made of.
#ifndef BENCH_BENCH_DIRECTORY_H_
#define BENCH_BENCH_DIRECTORY_H_

#include <cstddef>
#include <memory>
#include <string>

#include "tests/support/slapd_server.h"

namespace nvo_bench {

// Appends the entry of organizational unit `dn` ("ou=NAME,...") to `ldif`.
void addUnit(std::string& ldif, const std::string& dn);
// Appends computer `cn` below `parent` to `ldif`; with a `mac`, also its MAC as orvantaid of
// type 1.
void addComputer(std::string& ldif, const std::string& cn, const std::string& parent,
                 const std::string& mac = "");
// Starts a directory with `ldif` loaded, its database sized for about `entries` entries.
std::unique_ptr<nvo_test::SlapdServer> startBenchDirectory(std::string ldif, std::size_t entries);

}  // namespace nvo_bench

#endif  // BENCH_BENCH_DIRECTORY_H_
