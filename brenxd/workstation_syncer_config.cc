// WorkStationSyncer: reading the configuration file and building authentication documents from
// its authentication element.
#include <fstream>
#include <iterator>

#include "brenxd/workstation_syncer.h"

namespace brenxd {
namespace {

using X = nvo::XMLParser;

// Larger files are not configurations of this agent; the parser refuses them anyway.
constexpr std::streamsize kMaxFileBytes = X::kMaxDocumentBytes + 1;

QRstring readWholeFile(const QRstring& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw QRstring("Couldn't open " + path);
  }
  QRstring text(static_cast<std::size_t>(kMaxFileBytes), '\0');
  in.read(text.data(), kMaxFileBytes);
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

// Removes every `gateway` without a primaryGateway child, and every element that follows the
// first primary gateway without having one: whenever a node goes, the walk starts again from
// the first gateway.
void prune(nvo::DOM_Node authentication) {
  nvo::DOM_Node current = X::findFirstChild(authentication, "gateway");
  while (current) {
    if (!X::findFirstChild(current, "primaryGateway")) {
      X::removeChild(authentication, current);
      current = X::findFirstChild(authentication, "gateway");
    } else {
      current = X::nextSibling(current);
    }
  }
}

// The workstationcreation element; raises `noRoot` for a document without root.
nvo::DOM_Node creationSection(const X& document, const char* noRoot) {
  nvo::DOM_Node root = document.getRoot();
  if (!root) {
    throw QRstring(noRoot);
  }
  nvo::DOM_Node section = X::findChild(root, "workstationcreation");
  if (!section) {
    throw QRstring("workstationcreation tag not found in configuration");
  }
  return section;
}

}  // namespace

void WorkStationSyncer::readConfig(const QRstring& path) {
  teska::MutexLock hold(lock_, true);
  QRstring text;
  try {
    text = readWholeFile(path);
  } catch (const QRstring&) {
    forgetConfig();
    throw;
  }
  applyConfig(text);
}

void WorkStationSyncer::readConfigText(const QRstring& text) {
  teska::MutexLock hold(lock_, true);
  applyConfig(text);
}

void WorkStationSyncer::applyConfig(const QRstring& text) {
  try {
    // The old element belongs to the document parse() replaces.
    authentication_ = nullptr;
    document_.parse(text);
    readAuthentication();
    getSearchLocations();
    getCreationLocation();
  } catch (const QRstring&) {
    forgetConfig();
    throw;
  }
}

void WorkStationSyncer::forgetConfig() {
  creationLocation_.clear();
  searchLocations_.clear();
}

void WorkStationSyncer::readAuthentication() {
  nvo::DOM_Node root = document_.getRoot();
  if (!root) {
    throw QRstring("Invalid XML in configuration file: No root tag");
  }
  authentication_ = X::findChild(root, "authentication");
  if (!authentication_) {
    throw QRstring("Invalid XML in configuration file: No authentication tag");
  }
  prune(authentication_);
  nvo::DOM_Node gateway = X::findFirstChild(authentication_, "gateway");
  if (!gateway) {
    throw QRstring("Invalid XML in configuration file: No primary gateway");
  }
  const QRstring authname = X::getChildStringValue(gateway, "authname");
  const QRstring password = X::getChildStringValue(gateway, "password");
  const QRstring objectname = X::getChildStringValue(gateway, "objectname");
  if (authname.empty()) {
    throw QRstring("Invalid XML in configuration file: No gateway authname");
  }
  if (password.empty()) {
    throw QRstring("Invalid XML in configuration file: No gateway password");
  }
  if (objectname.empty()) {
    throw QRstring("Invalid XML in configuration file: No gateway objectname");
  }
  sessionDocument_ = buildAuthenticationXML(authname, password, objectname, true);
}

void WorkStationSyncer::getSearchLocations() {
  searchLocations_.clear();
  nvo::DOM_Node section =
      creationSection(document_, "getSearchLocations: Invalid XML in configuration file");
  for (nvo::DOM_Node location = X::findFirstChild(section, "searchLocation"); location;
       location = X::findNextSibling(location, "searchLocation")) {
    searchLocations_.push_back(X::getStringValue(location));
  }
}

void WorkStationSyncer::getCreationLocation() {
  nvo::DOM_Node section = creationSection(document_, "Invalid XML in configuration file");
  creationLocation_ = X::getChildStringValue(section, "creationLocation");
}

QRstring WorkStationSyncer::buildAuthenticationXML(const QRstring& authname,
                                                   const QRstring& password,
                                                   const QRstring& objectname, bool ignorePolicy) {
  nvo::DOM_Node gateway = X::findFirstChild(authentication_, "gateway");
  nvo::DOM_Node marker = X::findFirstChild(gateway, "ignorePolicy");
  if (ignorePolicy && !marker) {
    X::appendElement(gateway, "ignorePolicy");
  } else if (!ignorePolicy && marker) {
    X::removeChild(gateway, marker);
  }
  X::setChildStringValue(gateway, "authname", authname);
  X::setChildStringValue(gateway, "password", password);
  X::setChildStringValue(gateway, "objectname", objectname);
  return X::buildXMLFromNodes(authentication_);
}

}  // namespace brenxd
