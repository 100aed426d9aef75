// Fuzz target: any text as brenxd's configuration file (/etc/opt/nvo/brenxd.conf), through
// WorkStationSyncer::readConfigText, the step readConfig takes after reading the file.
//
// Properties checked besides "never crashes": a refused text raises only the agent's error
// text and leaves no creation location and no search locations (so every request is refused);
// an accepted one yields a session document that parses, whose primary gateway carries the
// configured account and the ignorePolicy marker; an authentication document built from it
// for a computer carries the computer's values exactly and no marker; reading the same text
// again gives the same state, whatever the previous request left in the element.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "brenxd/workstation_syncer.h"
#include "fuzz/fuzz_check.h"
#include "gateway/xml_parser.h"
#include "outside/log_stream.h"

namespace {

using X = nvo::XMLParser;

teska::LogStream& quietLog() {
  static teska::LogStream log(1, "brenxd", false);
  log.setMaxLevel(0);
  return log;
}

struct State {
  std::string creation;
  std::vector<std::string> search;
  std::string session;
};

// Reads `text`; the state, or nothing when it was refused.
bool read(brenxd::WorkStationSyncer& syncer, const std::string& text, State& state) {
  try {
    syncer.readConfigText(text);
  } catch (const brenxd::QRstring& error) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(syncer.creationLocation().empty());
    FUZZ_CHECK(syncer.searchLocations().empty());
    return false;
  }
  state = {syncer.creationLocation(), syncer.searchLocations(), syncer.sessionDocument()};
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  brenxd::WorkStationSyncer syncer(quietLog(), [] { return nullptr; });
  State first;
  if (!read(syncer, text, first)) {
    return 0;
  }
  X session(first.session);
  nvo::DOM_Node gateway = X::findFirstChild(session.getRoot(), "gateway");
  FUZZ_CHECK(X::getName(session.getRoot()) == "authentication");
  FUZZ_CHECK(gateway && X::findFirstChild(gateway, "primaryGateway"));
  FUZZ_CHECK(X::findFirstChild(gateway, "ignorePolicy"));
  for (const char* part : {"authname", "password", "objectname"}) {
    FUZZ_CHECK(!X::getChildStringValue(gateway, part).empty());
  }

  const std::string computer = "cn=ws-00:16:3e:00:00:01,ou=New,o=orvanta";
  const std::string password = "p&<\"'>w 12";
  X answer(syncer.buildAuthenticationXML(computer, password, computer, false));
  nvo::DOM_Node primary = X::findFirstChild(answer.getRoot(), "gateway");
  FUZZ_CHECK(X::getChildStringValue(primary, "authname") == computer);
  FUZZ_CHECK(X::getChildStringValue(primary, "password") == password);
  FUZZ_CHECK(X::getChildStringValue(primary, "objectname") == computer);
  FUZZ_CHECK(!X::findFirstChild(primary, "ignorePolicy"));

  State again;
  FUZZ_CHECK(read(syncer, text, again));
  FUZZ_CHECK(again.creation == first.creation && again.search == first.search &&
             again.session == first.session);
  return 0;
}
