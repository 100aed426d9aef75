#include "gateway/command_reply.h"

#include <algorithm>
#include <set>
#include <utility>

#include "gateway/ldap_text.h"

namespace nvo {

namespace {

// Attributes written as identifying children, or never written.
const std::set<std::string> kNotShown = {"objectclass", "userpassword", "entryuuid",
                                         "structuralobjectclass"};
// Attributes whose values are directory names.
const std::set<std::string> kDnValued = {"orvantalink", "member",  "uniquemember",
                                         "owner",       "seealso", "roleoccupant"};

}  // namespace

const std::vector<std::string>& headerAttributes() {
  static const std::vector<std::string> kHeader = {"entryUUID", "structuralObjectClass",
                                                   "objectClass"};
  return kHeader;
}

const std::vector<std::string>& fullAttributes() {
  static const std::vector<std::string> kFull = {"*", "entryUUID", "structuralObjectClass"};
  return kFull;
}

std::string objectIdOf(const DirEntry& entry) {
  return entry.first("entryUUID");
}

std::string objectClassOf(const DirEntry& entry) {
  std::string structural = entry.first("structuralObjectClass");
  if (!structural.empty()) {
    return lowerAscii(structural);
  }
  // A server without structuralObjectClass: the first class that is not abstract or auxiliary.
  for (const std::string& c : entry.values("objectClass")) {
    std::string lower = lowerAscii(c);
    if (lower != "top" && lower != "orvantalinkholder" && lower != "simplesecurityobject") {
      return lower;
    }
  }
  return {};
}

ReplyWriter::ReplyWriter() : text_("<commandResult>") {}

void ReplyWriter::element(const std::string& name, const std::string& text) {
  text_ += '<';
  text_ += name;
  text_ += '>';
  appendXmlText(text_, text);
  text_ += "</";
  text_ += name;
  text_ += '>';
}

void ReplyWriter::attribute(const std::string& name, const std::string& value) {
  if (kDnValued.count(name) == 0) {
    element(name, value);
    return;
  }
  text_ += '<';
  text_ += name;
  text_ += " displayname=\"";
  appendXmlText(text_, displayNameOf(value), true);
  text_ += "\" objectname=\"";
  appendXmlText(text_, value, true);
  text_ += "\">";
  appendXmlText(text_, value);
  text_ += "</";
  text_ += name;
  text_ += '>';
}

void ReplyWriter::object(const DirEntry& entry, bool all,
                         const std::vector<std::string>& attributes) {
  text_ += "<object>";
  element("objectID", objectIdOf(entry));
  element("objectclass", objectClassOf(entry));
  element("displayname", displayNameOf(entry.dn));
  element("objectname", entry.dn);
  for (const DirAttribute& a : entry.attributes) {
    std::string name = lowerAscii(a.name);
    bool wanted = all || std::count(attributes.begin(), attributes.end(), name) > 0;
    // Names with options (cn;lang-de) are no XML names: left out.
    if (!wanted || kNotShown.count(name) || !isAttributeName(name)) {
      continue;
    }
    for (const std::string& v : a.values) {
      attribute(name, v);
    }
  }
  text_ += "</object>";
}

void ReplyWriter::objects(const std::vector<DirEntry>& entries, bool all,
                          const std::vector<std::string>& attributes) {
  // Room for the identifying children of every object, so the text grows a few times only.
  text_.reserve(text_.size() + entries.size() * 256);
  for (const DirEntry& e : entries) {
    object(e, all, attributes);
  }
}

std::string ReplyWriter::finish() {
  text_ += "</commandResult>";
  return std::move(text_);
}

}  // namespace nvo
