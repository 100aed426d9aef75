// bench-console-reference: the reference side of the console figures (12, 13). The least a
// console must do to come up as tarvik does with a session file and to list containers, over
// raw libldap (LdapReference) and readline: read the URL, DN and password out of the document
// $NVO_AUTHENTICATION names, connect and bind, list the naming contexts' entries, print the
// banner and the prompt; then "cd NAME", "cd ..", "ls" and "quit" with the same directory
// operations and the same lines as the console. No command or reply documents.
#include <ldap.h>
#include <stdio.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <readline/readline.h>

#include "bench/ldap_reference.h"

namespace {

// The text of the first <tag> element of `document`, the five predefined entities decoded.
std::string element(const std::string& document, const std::string& tag) {
  const std::size_t open = document.find("<" + tag + ">");
  const std::size_t close = document.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos || close < open) {
    throw std::runtime_error("no <" + tag + "> in the authentication document");
  }
  const std::size_t begin = open + tag.size() + 2;
  std::string text;
  for (std::size_t i = begin; i < close; ++i) {
    if (document[i] != '&') {
      text += document[i];
      continue;
    }
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& [name, c] : kEntities) {
      if (document.compare(i, std::char_traits<char>::length(name), name) == 0) {
        text += c;
        i += std::char_traits<char>::length(name) - 1;
        break;
      }
    }
  }
  return text;
}

// The value of the first RDN of `dn`.
std::string displayName(const std::string& dn) {
  LDAPDN parsed = nullptr;
  std::string name = dn;
  if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS &&
      parsed != nullptr && parsed[0] != nullptr && parsed[0][0] != nullptr) {
    name.assign(parsed[0][0]->la_value.bv_val, parsed[0][0]->la_value.bv_len);
  }
  ldap_dnfree(parsed);
  return name;
}

struct Place {
  std::string objectId;  // empty at the top
  std::string name;
};

class ReferenceConsole {
 public:
  explicit ReferenceConsole(nvo_bench::LdapReference& directory) : directory_(directory) { list(); }

  void run() {
    for (;;) {
      std::unique_ptr<char, decltype(&std::free)> line(
          readline((path_.back().name + " : ").c_str()), &std::free);
      if (!line) {
        return;
      }
      const std::string command = line.get();
      if (command == "quit") {
        return;
      }
      if (command == "ls") {
        for (const auto& [name, id] : listing_) {
          std::cout << "  " << name << "\n";
        }
      } else if (command == "cd ..") {
        if (path_.size() == 1) {
          std::cout << "At root\n";
          continue;
        }
        path_.pop_back();
        list();
      } else if (command.rfind("cd ", 0) == 0) {
        const auto child = listing_.find(command.substr(3));
        if (child == listing_.end()) {
          continue;
        }
        path_.push_back({child->second, child->first});
        list();
      }
    }
  }

 private:
  void list() {
    listing_.clear();
    auto store = [this](const std::string& dn, const std::string& id) {
      listing_[displayName(dn)] = id;
    };
    if (path_.size() == 1) {
      directory_.enumerateBase(store);
    } else {
      directory_.enumerate(path_.back().objectId, store);
    }
  }

  nvo_bench::LdapReference& directory_;
  std::vector<Place> path_{{"", "Top"}};
  std::map<std::string, std::string> listing_;  // display name -> objectID
};

}  // namespace

int main() {
  std::setlocale(LC_ALL, "");
  try {
    const char* path = std::getenv("NVO_AUTHENTICATION");
    std::ifstream file(path == nullptr ? "" : path);
    std::stringstream document;
    document << file.rdbuf();
    if (!file) {
      throw std::runtime_error("cannot read $NVO_AUTHENTICATION");
    }
    const std::string text = document.str();
    nvo_bench::LdapReference directory(element(text, "url"), element(text, "authname"),
                                       element(text, "password"), "o=orvanta");
    std::cout << "NVO Debugging Tool \n";
    ReferenceConsole console(directory);
    console.run();
    std::cout << "Disconnecting from nvod (endSession) ...\n";
  } catch (const std::exception& e) {
    std::cerr << "bench-console-reference: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
