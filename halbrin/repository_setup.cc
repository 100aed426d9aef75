#include "halbrin/repository_setup.h"

#include <memory>
#include <optional>

#include "halbrin/command_line.h"
#include "halbrin/directory_kind.h"
#include "halbrin/ou_creation.h"
#include "halbrin/repository_layout.h"

namespace halbrin {
namespace {

// Every line is flushed at once: the library writes its reports straight to standard error,
// and when both streams share a file the reader must see them in the order they happened.
void writeLine(std::ostream& out, std::string_view text, std::string_view ending = "\n") {
  out << text << ending;
  out.flush();
}

bool isCreatedOrPresent(int result) {
  return result == kResultSuccess || result == kResultAlreadyExists;
}

void reportOu(std::ostream& out, const std::string& dn, int result) {
  if (result == kResultAlreadyExists) {
    writeLine(out, "OU " + dn + " already exists");
  } else {
    writeLine(out, "OU " + dn + " created");
  }
}

// Creates the four OUs in order; returns kExitSuccess or the exit code of the first failure.
int createRepositoryOus(DirectoryConnection& connection, const OuDns& dns, DirectoryKind kind,
                        std::ostream& out) {
  int result = createOu(connection, dns[kRepositoryOu], std::nullopt);
  if (!isCreatedOrPresent(result)) {
    writeLine(out, "Error creating Software Repository organizationalunit: " + dns[kRepositoryOu] +
                       ": " + std::to_string(result));
    return result;
  }
  reportOu(out, dns[kRepositoryOu], result);
  for (std::size_t i = kRpmOu; i <= kPublicOu; ++i) {
    std::optional<Attribute> extra;
    if (i == kPublicOu) {
      extra = accessRule(kind, dns[i]);
    }
    result = createOu(connection, dns[i], extra);
    if (!isCreatedOrPresent(result)) {
      writeLine(out,
                "Error creating organizationalunit: " + dns[i] + ": " + std::to_string(result));
      return result;
    }
    reportOu(out, dns[i], result);
  }
  return kExitSuccess;
}

}  // namespace

int runRepositorySetup(const std::vector<std::string>& args, const ConnectionOpener& open,
                       std::ostream& out) {
  CommandLine commandLine = readCommandLine(args, out);
  if (!commandLine.arguments) {
    return commandLine.exitCode;
  }
  const Arguments& arguments = *commandLine.arguments;
  const OuDns dns = buildOuDns(arguments.repositoryDn);
  if (const std::string* overlong = findOverlongDn(dns)) {
    writeLine(out, "Error: organizationalunit DN is longer than " + std::to_string(kMaxTextLength) +
                       " characters: " + *overlong);
    return kExitTooLong;
  }

  std::unique_ptr<DirectoryConnection> connection = open(arguments.host, arguments.port);
  int failure = kExitSuccess;
  if (!connection) {
    failure = kExitNoHandle;
  } else if (!connection->bind(arguments.userDn, arguments.password)) {
    failure = kExitBindFailed;
  }
  if (failure != kExitSuccess) {
    writeLine(out, "Error connecting / binding to LDAP: " + std::to_string(failure));
    return failure;
  }
  writeLine(out, "Authenticated");
  const DirectoryKind kind = detectKind(*connection);
  writeLine(out, detectedMessage(kind), "\r\n");

  if (int result = createRepositoryOus(*connection, dns, kind, out); result != kExitSuccess) {
    return result;
  }
  if (int unbound = connection->unbind(); unbound != kResultSuccess) {
    writeLine(out, "Error unbinding from LDAP: " + std::to_string(unbound));
    return kExitUnbindFailed;
  }
  return kExitSuccess;
}

}  // namespace halbrin
