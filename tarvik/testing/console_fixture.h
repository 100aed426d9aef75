// ConsoleTest: the real tarvik binary on a pseudo-terminal (TmuxTerminal) against a private
// directory with the gateway's schema, access rules and demo data (tests/support's
// SlapdServer). Skips when slapd, ldap-utils, openssl or tmux are missing.
#ifndef TARVIK_TESTING_CONSOLE_FIXTURE_H_
#define TARVIK_TESTING_CONSOLE_FIXTURE_H_

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tarvik/testing/tmux_terminal.h"
#include "tests/support/slapd_server.h"

namespace tarvik_test {

// The bin/tarvik of the build under test.
std::string tarvikPath();

// Writes an authentication document for `url`, `dn` and `password` to `path` (mode 0600).
void writeAuthenticationFile(const std::filesystem::path& path, const std::string& url,
                             const std::string& dn, const std::string& password);

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // LDIF loaded after the demo data; set before SetUp runs (in the test's constructor).
  std::string extraLdif_;

  nvo_test::SlapdServer& server() { return *server_; }
  // tarvik with NVO_AUTHENTICATION naming the administrator's session file, or (false) with it
  // unset, so that the login dialogue runs.
  // `extraEnv` ("NAME=value") is added to the console's environment.
  std::unique_ptr<TmuxTerminal> startConsole(bool sessionFile,
                                             const std::vector<std::string>& extraEnv = {});

 private:
  std::unique_ptr<nvo_test::SlapdServer> server_;
  std::filesystem::path dir_;
};

}  // namespace tarvik_test

#endif  // TARVIK_TESTING_CONSOLE_FIXTURE_H_
