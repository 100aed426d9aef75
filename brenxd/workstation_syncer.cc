// WorkStationSyncer: the gateway work of one workstation request.
#include "brenxd/workstation_syncer.h"

#include <exception>
#include <utility>

#include "brenxd/agent_log.h"
#include "brenxd/command_bodies.h"
#include "outside/base_exception.h"

namespace brenxd {
namespace {

using X = nvo::XMLParser;

constexpr char kCategory[] = "catNone";
constexpr std::size_t kPasswordLength = 12;
constexpr char kNoResults[] = "Gateway didn't return any results";

bool isValidReply(nvo::DOM_Node reply) {
  return reply && X::getName(reply) == "commandResult";
}

bool allowedInPassword(int c) {
  return c >= 32 && c <= 126 && c != '"' && c != '<' && c != '>' && c != '&';
}

}  // namespace

void checkForError(nvo::DOM_Node reply, const QRstring& command) {
  nvo::DOM_Node error = X::findFirstChild(reply, "error");
  if (error) {
    throw QRstring(command + "error: " + X::getChildStringValue(error, "errorMsg") +
                   " [error#: " + X::getChildStringValue(error, "errorNum") + "]");
  }
}

WorkStationSyncer::WorkStationSyncer(teska::LogStream& log, GatewaySessionFactory openSession)
    : log_(&log),
      random_(std::make_unique<teska::RandomNumber>(33, 126)),
      openSession_(std::move(openSession)) {}

WorkStationSyncer::~WorkStationSyncer() = default;

nvo::DOM_Node WorkStationSyncer::send(const std::string& command) {
  return session_->callGateway(command);
}

std::optional<QRstring> WorkStationSyncer::resolveObject(const QRstring& objectName) {
  document_.initXML();
  document_.addCommand("resolveObject", kCategory);
  document_.addTagString("objectname", objectName);
  nvo::DOM_Node reply = send(document_.getXML(true));
  if (!isValidReply(reply)) {
    return std::nullopt;
  }
  checkForError(reply, "resolveObject");
  QRstring id = X::getChildStringValue(X::findFirstChild(reply, "object"), "objectID");
  if (id.empty()) {
    return std::nullopt;
  }
  return id;
}

void WorkStationSyncer::resolveCreationContainer() {
  std::optional<QRstring> id = resolveObject(creationLocation_);
  if (!id) {
    throw QRstring("objectID tag not found for creation container: " + creationLocation_);
  }
  creationContainerId_ = *id;
}

std::optional<QRstring> WorkStationSyncer::searchObjects(const QRstring& containerId,
                                                         const QRstring& mac) {
  document_.initXML();
  document_.addCommand("searchObjects", kCategory);
  document_.addTagString("objectID", containerId);
  document_.addString(searchParamsBody(mac));
  nvo::DOM_Node reply = send(document_.getXML(true));
  if (!isValidReply(reply)) {
    return std::nullopt;
  }
  try {
    checkForError(reply, "searchObjects");
  } catch (const QRstring&) {
    return std::nullopt;  // a failed search counts as no hit: the computer is created
  }
  for (nvo::DOM_Node child = X::firstChild(reply); child; child = X::nextSibling(child)) {
    for (nvo::DOM_Node inner = X::firstChild(child); inner; inner = X::nextSibling(inner)) {
      if (X::getName(inner) == "objectID") {
        return X::getStringValue(inner);
      }
    }
  }
  return std::nullopt;
}

std::optional<QRstring> WorkStationSyncer::searchAllLocations(const QRstring& mac) {
  if (std::optional<QRstring> hit = searchObjects(creationContainerId_, mac)) {
    return hit;
  }
  for (const QRstring& location : searchLocations_) {
    std::optional<QRstring> container = resolveObject(location);
    if (!container) {
      continue;
    }
    if (std::optional<QRstring> hit = searchObjects(*container, mac)) {
      return hit;
    }
  }
  return std::nullopt;
}

QRstring WorkStationSyncer::createObject(const QRstring& computerName, const QRstring& password,
                                         const QRstring& mac) {
  document_.initXML();
  document_.addCommand("createObject", kCategory);
  document_.addTagString("objectID", creationContainerId_);
  document_.addTagString("objectclass", "orvantacomputer");
  document_.addTagString("name", computerName);
  document_.addString(createAttributesBody(password, mac));
  nvo::DOM_Node reply = send(document_.getXML(true));
  // Checked like its sister commands: nothing usable, or no id, must not reach the next step.
  if (!isValidReply(reply)) {
    throw QRstring(kNoResults);
  }
  checkForError(reply, "createObject");
  QRstring id = X::getChildStringValue(reply, "objectID");
  if (id.empty()) {
    throw QRstring("createObject returned no objectID for " + computerName);
  }
  return id;
}

void WorkStationSyncer::modifyObject(const QRstring& objectId, const QRstring& password) {
  document_.initXML();
  document_.addCommand("modifyObject", kCategory);
  document_.addTagString("objectID", objectId);
  document_.addString(replacePasswordBody(password));
  nvo::DOM_Node reply = send(document_.getXML(true));
  if (!isValidReply(reply)) {
    throw QRstring(kNoResults);
  }
  checkForError(reply, "modifyObject");
}

QRstring WorkStationSyncer::getObjectNameFromObjectID(const QRstring& objectId) {
  document_.initXML();
  document_.addCommand("getObjectNameFromObjectID", kCategory);
  document_.addTagString("objectID", objectId);
  nvo::DOM_Node reply = send(document_.getXML(true));
  if (!isValidReply(reply)) {
    throw QRstring(kNoResults);
  }
  checkForError(reply, "getObjectNameFromObjectID");
  nvo::DOM_Node name = X::findFirstChild(reply, "objectname");
  if (!name) {
    throw QRstring("Object name not found in results");
  }
  return X::getStringValue(name);
}

QRstring WorkStationSyncer::makePassword() {
  QRstring password;
  while (password.size() < kPasswordLength) {
    const int c = random_->getNextNumber();
    if (allowedInPassword(c)) {
      password.push_back(static_cast<char>(c));
    }
  }
  return password;
}

QRstring WorkStationSyncer::generateAuthenticationXML(const QRstring& computerName,
                                                      const QRstring& mac) {
  teska::MutexLock hold(lock_, true);
  if (creationLocation_.empty()) {
    throw QRstring("Unknown workstation creation container");
  }
  // Only error texts leave: a failure of the support or gateway library ends this request with
  // a refusal, never the agent.
  try {
    return runRequest(computerName, mac);
  } catch (const QRstring&) {
    session_.reset();
    throw;
  } catch (const teska::BaseException& e) {
    session_.reset();
    throw QRstring(e.getMessage());
  } catch (const std::exception& e) {
    session_.reset();
    throw QRstring(e.what());
  }
}

// Steps 3 to 11 of a request; the caller ends the session on every path.
QRstring WorkStationSyncer::runRequest(const QRstring& computerName, const QRstring& mac) {
  session_.reset();
  session_ = openSession_();
  if (!session_->initSession(sessionDocument_)) {
    *log_ << teska::LogStream::info
          << "WorkStationSyncer::generateAuthenticationXML - failed to init session with gateway"
          << std::endl;
    throw QRstring("Failed to init session with gateway");
  }
  resolveCreationContainer();
  const QRstring password = makePassword();
  QRstring objectId;
  QRstring outcome;
  if (std::optional<QRstring> found = searchAllLocations(mac)) {
    objectId = *found;
    modifyObject(objectId, password);
    outcome = "Password changed.";
  } else {
    objectId = createObject(computerName, password, mac);
    outcome = "Workstation created.";
  }
  const QRstring objectName = getObjectNameFromObjectID(objectId);
  QRstring answer = buildAuthenticationXML(objectName, password, objectName, false);
  session_.reset();
  *log_ << teska::LogStream::info << outcome << " Computer: " << logText(objectName)
        << " MAC address: " << logText(mac) << std::endl;
  return answer;
}

}  // namespace brenxd
