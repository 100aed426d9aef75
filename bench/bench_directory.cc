#include "bench/bench_directory.h"

#include <algorithm>

namespace nvo_bench {

void addUnit(std::string& ldif, const std::string& dn) {
  const std::size_t comma = dn.find(',');
  ldif += "dn: " + dn + "\nobjectClass: organizationalUnit\nou: " +
          dn.substr(3, comma == std::string::npos ? std::string::npos : comma - 3) + "\n\n";
}

void addComputer(std::string& ldif, const std::string& cn, const std::string& parent,
                 const std::string& mac) {
  ldif += "dn: cn=" + cn + "," + parent + "\nobjectClass: orvantacomputer\ncn: " + cn + "\n";
  if (!mac.empty()) {
    ldif += "orvantaidtype: 1\norvantaid: " + mac + "\n";
  }
  ldif += "\n";
}

std::unique_ptr<nvo_test::SlapdServer> startBenchDirectory(std::string ldif, std::size_t entries) {
  nvo_test::SlapdOptions options;
  options.directoryModel = true;
  options.extraLdif = std::move(ldif);
  // slapd's default of 10 MiB holds a few thousand computers; about 4 KiB each with the indexes.
  options.mdbMaxSize = std::max<std::size_t>(64, entries / 256) << 20;
  return std::make_unique<nvo_test::SlapdServer>(options);
}

}  // namespace nvo_bench
