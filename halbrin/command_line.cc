#include "halbrin/command_line.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "halbrin/repository_layout.h"

namespace halbrin {
namespace {

constexpr std::size_t kArgumentCount = 5;

constexpr std::array<std::string_view, kArgumentCount> kArgumentNames = {
    "LDAPServerAddress", "LDAPServerPort", "LDAPUserName", "Password", "SoftwareRepositoryOU"};

}  // namespace

void printUsage(std::ostream& out) {
  out << "Usage:  halbrin LDAPServerAddress LDAPServerPort LDAPUserName Password "
         "SoftwareRepositoryOU\n"
      << "For example:\n"
      << "halbrin ldap.example.com 389 cn=dirmanager secret "
         "\"ou=SoftwareRepository, o=orvanta\"\n";
  out.flush();
}

CommandLine readCommandLine(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != kArgumentCount) {
    printUsage(out);
    return {std::nullopt, kExitSuccess};
  }
  for (std::size_t i = 0; i < kArgumentCount; ++i) {
    if (args[i].size() > kMaxTextLength) {
      out << "Error: " << kArgumentNames[i] << " (argument " << i + 1 << ") is longer than "
          << kMaxTextLength << " characters\n";
      out.flush();
      return {std::nullopt, kExitTooLong};
    }
  }
  Arguments parsed;
  parsed.host = args[0];
  parsed.port = std::atoi(args[1].c_str());
  parsed.userDn = args[2];
  parsed.password = args[3];
  parsed.repositoryDn = args[4];
  return {std::move(parsed), kExitSuccess};
}

}  // namespace halbrin
