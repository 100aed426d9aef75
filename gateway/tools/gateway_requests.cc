#include "gateway/tools/gateway_requests.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include <sys/random.h>

#include "gateway/tools/tool_session.h"
#include "gateway/xml_parser.h"

namespace nvo::tools {

namespace {

using X = XMLParser;

std::string commandOpen(const std::string& category, const std::string& name) {
  return "<?xml version='1.0' encoding='UTF-8'?><command cat=\"" + category + "\" name=\"" + name +
         "\">";
}

std::string element(const std::string& name, const std::string& text) {
  return "<" + name + ">" + X::makeXMLString(text) + "</" + name + ">";
}

std::string condition(const std::string& name, const std::string& value) {
  return "<" + name + " op=\"EQ\">" + X::makeXMLString(value) + "</" + name + ">";
}

std::string attribute(const std::string& name, const std::string& value) {
  return "<attribute name=\"" + name + "\">" + X::makeXMLString(value) + "</attribute>";
}

std::string lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string newUuid() {
  std::array<unsigned char, 16> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got <= 0) {
      throw std::runtime_error("no random bytes for a UUID");
    }
    filled += static_cast<std::size_t>(got);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += '-';
    }
    std::array<char, 3> hex{};
    std::snprintf(hex.data(), hex.size(), "%02x", bytes[i]);
    text += hex.data();
  }
  return text;
}

std::string findUnitCommand(const std::string& unit) {
  return commandOpen("catNone", "searchObjects") +
         "<includeobjectclass>organizationalunit</includeobjectclass><attribute>ou</attribute>"
         "<searchParams>" +
         condition("ou", unit) + "</searchParams></command>";
}

std::string findPackageCommand(const Package& package) {
  std::string params = condition("orvantaname", package.name);
  params += condition("orvantaversion", package.version);
  if (!package.release.empty()) {
    params += condition("orvantarelease", package.release);
  }
  return commandOpen("catSWRepository", "searchObjects") +
         "<includeobjectclass>orvantarpm</includeobjectclass><attribute>orvantaname</attribute>"
         "<attribute>orvantaversion</attribute><attribute>orvantarelease</attribute>"
         "<attribute>orvantauuid</attribute><searchParams>" +
         params + "</searchParams></command>";
}

std::string createPackageCommand(const std::string& unitId, const std::string& uuid,
                                 const Package& package) {
  std::string body = element("objectID", unitId) + element("objectclass", "orvantarpm") +
                     element("name", uuid) + attribute("cn", package.name) +
                     attribute("orvantaname", package.name) +
                     attribute("orvantaversion", package.version);
  if (!package.release.empty()) {
    body += attribute("orvantarelease", package.release);
  }
  return commandOpen("RPM", "createObject") + body + "</command>";
}

std::optional<RepositoryUnit> findRepositoryUnit(MUXClient& client, const std::string& unit) {
  DOM_Node reply = callOrThrow(client, findUnitCommand(unit));
  const std::string prefix = "ou=" + lower(unit) + ",ou=rpm,ou=softwarerepository,";
  for (DOM_Node o = X::findFirstChild(reply, "object"); o != nullptr;
       o = X::findNextSibling(o, "object")) {
    std::string dn = X::getChildStringValue(o, "objectname");
    if (lower(dn).rfind(prefix, 0) == 0 && dn.size() > prefix.size()) {
      return RepositoryUnit{X::getChildStringValue(o, "objectID"), dn};
    }
  }
  return std::nullopt;
}

ImportResult importPackage(MUXClient& client, const RepositoryUnit& unit, const Package& package) {
  DOM_Node found = callOrThrow(client, findPackageCommand(package));
  const std::string unitTail = "," + lower(unit.dn);
  for (DOM_Node o = X::findFirstChild(found, "object"); o != nullptr;
       o = X::findNextSibling(o, "object")) {
    if (endsWith(lower(X::getChildStringValue(o, "objectname")), unitTail) &&
        X::getChildStringValue(o, "orvantaname") == package.name &&
        X::getChildStringValue(o, "orvantaversion") == package.version &&
        X::getChildStringValue(o, "orvantarelease") == package.release) {
      return {false, X::getChildStringValue(o, "orvantauuid")};
    }
  }
  std::string uuid = newUuid();
  callOrThrow(client, createPackageCommand(unit.objectId, uuid, package));
  return {true, uuid};
}

std::string inventoryCommand(const std::optional<std::string>& model,
                             const std::vector<Package>& packages) {
  std::string text = commandOpen("catSWInventory", "replaceInventory");
  if (model) {
    text += element("orvantamodel", *model);
  }
  for (const Package& p : packages) {
    text += "<package>" + element("orvantaname", p.name) + element("orvantaversion", p.version);
    if (!p.release.empty()) {
      text += element("orvantarelease", p.release);
    }
    if (!p.arch.empty()) {
      text += element("orvantaarch", p.arch);
    }
    text += "</package>";
  }
  return text + "</command>";
}

InventoryResult reportInventory(MUXClient& client, const std::optional<std::string>& model,
                                const std::vector<Package>& packages) {
  // The report is one transaction: when the connection to the directory was lost on the way
  // (libldap's "Can't contact LDAP server", -1, or a failed connect, -11), nothing of it was
  // stored, and it is sent again after a short pause, twice at most. Should the answer of a
  // commit have been what was lost, the next report finds the packages unchanged.
  const std::string command = inventoryCommand(model, packages);
  constexpr int kAttempts = 3;
  DOM_Node reply;
  for (int attempt = 1;; ++attempt) {
    reply = client.callGateway(command.data(), static_cast<int>(command.size()));
    const DOM_Node error = reply == nullptr ? DOM_Node() : X::findFirstChild(reply, "error");
    const std::string number =
        error == nullptr ? std::string() : X::getChildStringValue(error, "errorNum");
    if (attempt == kAttempts || (number != "-1" && number != "-11")) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  std::string message;
  if (replyError(reply, message)) {
    throw std::runtime_error(message);
  }
  return {X::getChildStringValue(reply, "added"), X::getChildStringValue(reply, "removed"),
          X::getChildStringValue(reply, "unchanged")};
}

}  // namespace nvo::tools
