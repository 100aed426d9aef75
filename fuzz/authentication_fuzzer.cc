// Fuzz target: the authentication document reader, as a session reads the document it is
// opened with.
//
// Properties checked besides "never crashes": the reader either refuses with
// AuthenticationError (and nothing else) or gives at least one gateway, a primary index inside
// the list that points at the first gateway marked primaryGateway, and a primary url.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "gateway/authentication.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  nvo::Authentication auth;
  try {
    auth = nvo::readAuthentication(text);
  } catch (const nvo::AuthenticationError& e) {
    FUZZ_CHECK(std::string(e.what()).rfind("authentication document: ", 0) == 0);
    return 0;
  }
  FUZZ_CHECK(!auth.gateways.empty());
  FUZZ_CHECK(auth.primary < auth.gateways.size());
  FUZZ_CHECK(auth.primaryGateway().primaryGateway);
  FUZZ_CHECK(!auth.primaryGateway().url.empty());
  for (std::size_t i = 0; i < auth.primary; ++i) {
    FUZZ_CHECK(!auth.gateways[i].primaryGateway);
  }
  return 0;
}
