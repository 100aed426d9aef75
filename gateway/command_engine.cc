#include "gateway/command_engine.h"

#include <algorithm>
#include <exception>
#include <set>
#include <type_traits>
#include <utility>

#include "gateway/command.h"
#include "gateway/command_reply.h"
#include "gateway/directory_lookup.h"
#include "gateway/inventory_plan.h"
#include "gateway/ldap_text.h"
#include "gateway/linked_objects.h"

namespace nvo {

namespace {

constexpr int kNoSuchObject = 32;  // LDAP result code

// Runs one typed command; each overload answers the reply text or throws DirectoryError or
// CommandError.
class Runner {
 public:
  Runner(Directory& directory, std::optional<std::vector<std::string>>& contexts)
      : lookup_(directory, contexts), directory_(directory) {}

  std::string operator()(const EnumerateBaseObjects&) {
    ReplyWriter reply;
    for (const std::string& context : lookup_.namingContexts()) {
      if (auto e = lookup_.entryAt(context, "(objectClass=*)", headerAttributes())) {
        reply.object(*e, false);
      }
    }
    return reply.finish();
  }

  std::string operator()(const EnumerateObjects& c) {
    SearchRequest request{lookup_.dnOf(c.objectId), SearchScope::kOneLevel, "(objectClass=*)",
                          headerAttributes(), 0};
    ReplyWriter reply;
    reply.objects(directory_.search(request), false);
    return reply.finish();
  }

  std::string operator()(const ReadObject& c) {
    ReplyWriter reply;
    reply.object(lookup_.entryOf(c.objectId, fullAttributes()), true);
    return reply.finish();
  }

  std::string operator()(const CreateObject& c) {
    std::string dn = c.rdn + "," + lookup_.dnOf(c.parentId);
    directory_.add(dn, c.attributes);
    if (c.password) {
      try {
        directory_.setPassword(dn, *c.password);
      } catch (const DirectoryError&) {
        // An object without the password it was created with is no use to anyone.
        directory_.remove(dn);
        throw;
      }
    }
    auto created = lookup_.entryAt(dn, "(objectClass=*)", {"entryUUID"});
    ReplyWriter reply;
    reply.element("objectID", created ? objectIdOf(*created) : std::string());
    return reply.finish();
  }

  std::string operator()(const RemoveAllObjects& c) {
    SearchRequest request{
        lookup_.dnOf(c.objectId), SearchScope::kSubtree, "(objectClass=*)", {"1.1"}, 0};
    std::vector<std::pair<std::size_t, std::string>> byDepth;
    for (const DirEntry& e : directory_.search(request)) {
      auto rdns = splitDn(e.dn);
      byDepth.emplace_back(rdns ? rdns->size() : 0, e.dn);
    }
    // Leaves first: deeper names before their parents.
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> removed;
    for (const auto& entry : byDepth) {
      directory_.remove(entry.second);
      removed.push_back(entry.second);
    }
    forgetEntries(lookup_, removed);
    return ReplyWriter().finish();
  }

  std::string operator()(const ModifyObject& c) {
    std::string dn = lookup_.dnOf(c.objectId);
    if (!c.changes.empty()) {
      directory_.modify(dn, c.changes);
    }
    if (c.password) {
      directory_.setPassword(dn, *c.password);
    }
    return ReplyWriter().finish();
  }

  std::string operator()(const RenameObject& c) {
    std::string dn = lookup_.dnOf(c.objectId);
    auto rdns = splitDn(dn);
    std::string type = rdns && !rdns->empty() ? rdnType(rdns->front()) : "cn";
    std::string newRdn = type + "=" + c.escapedValue;
    directory_.rename(dn, newRdn, "");
    std::string parent = parentDn(dn);
    followRename(lookup_, dn, parent.empty() ? newRdn : newRdn + "," + parent);
    return ReplyWriter().finish();
  }

  std::string operator()(const MoveObject& c) {
    std::string dn = lookup_.dnOf(c.objectId);
    std::string parent = lookup_.dnOf(c.newParentId);
    if (dnIsWithin(parent, dn)) {
      throw CommandError(kErrMoveBelowItself, "cannot move " + dn + " below itself");
    }
    auto rdns = splitDn(dn);
    std::string rdn = rdns && !rdns->empty() ? rdns->front() : dn;
    directory_.rename(dn, rdn, parent);
    followRename(lookup_, dn, rdn + "," + parent);
    return ReplyWriter().finish();
  }

  std::string operator()(const ResolveObject& c) {
    ReplyWriter reply;
    // A name that does not exist resolves to nothing; that is no error.
    if (auto e = lookup_.entryAt(c.dn, "(objectClass=*)", headerAttributes())) {
      reply.object(*e, false);
    }
    return reply.finish();
  }

  std::string operator()(const SearchObjects& c) {
    std::vector<std::string> attributes = headerAttributes();
    attributes.insert(attributes.end(), c.spec.returnAttributes.begin(),
                      c.spec.returnAttributes.end());
    ReplyWriter reply;
    reply.objects(lookup_.run(c.spec, attributes), false, c.spec.returnAttributes);
    return reply.finish();
  }

  std::string operator()(const GetRpmDetails& c) {
    static const std::vector<std::string> kShown = {"orvantaname", "orvantaversion",
                                                    "orvantarelease", "orvantauuid"};
    std::vector<std::string> attributes = headerAttributes();
    attributes.insert(attributes.end(), kShown.begin(), kShown.end());
    ReplyWriter reply;
    for (const std::string& filter : c.filters) {
      reply.objects(lookup_.searchBelow(lookup_.namingContexts(), filter, attributes), false,
                    kShown);
    }
    return reply.finish();
  }

  std::string operator()(const SearchSwInventory& c) {
    std::set<std::string> having;
    SearchSpec packages = c.packages;
    packages.negate = false;
    for (const DirEntry& p : lookup_.run(packages, {"orvantaname"})) {
      having.insert(lowerAscii(parentDn(p.dn)));
    }
    ReplyWriter reply;
    for (const DirEntry& computer :
         lookup_.searchBelow(lookup_.basesOf(c.packages.baseId), "(objectClass=orvantacomputer)",
                             headerAttributes())) {
      if ((having.count(lowerAscii(computer.dn)) > 0) != c.packages.negate) {
        reply.object(computer, false);
      }
    }
    return reply.finish();
  }

  std::string operator()(const SearchHwInventory& c) {
    std::vector<std::string> attributes = headerAttributes();
    attributes.push_back("orvantamodel");
    ReplyWriter reply;
    reply.objects(lookup_.run(c.spec, attributes), false, {"orvantamodel"});
    return reply.finish();
  }

  // The computer's inventory report replaces the previous one in one transaction (see
  // inventory_plan.h); an unchanged report writes nothing.
  std::string operator()(const ReplaceInventory& c) {
    std::string computer = c.objectId.empty() ? directory_.boundDn() : lookup_.dnOf(c.objectId);
    if (computer.empty()) {
      throw CommandError(kErrNoOwnObject, "no objectID, and the session has no object of its own");
    }
    auto entry = lookup_.entryAt(computer, "(objectClass=orvantacomputer)", {"orvantamodel"});
    if (!entry) {
      throw DirectoryError(kNoSuchObject, "no computer " + computer);
    }
    SearchRequest present{computer,
                          SearchScope::kOneLevel,
                          "(objectClass=orvantainstalledpackage)",
                          {"cn", "orvantaname", "orvantaversion", "orvantarelease", "orvantaarch"},
                          0};
    InventoryPlan plan =
        planInventory(computer, directory_.search(present), entry->values("orvantamodel"), c);
    if (c.packages.empty()) {
      // An empty report leaves the computer without children, which a transaction cannot do:
      // the old entries go one by one, then the model.
      for (const DirChange& change : plan.changes) {
        if (change.kind == DirChange::Kind::kDelete) {
          directory_.remove(change.dn);
        } else {
          directory_.modify(change.dn, change.changes);
        }
      }
    } else {
      directory_.applyAtomically(plan.changes);
    }
    ReplyWriter reply;
    reply.element("added", std::to_string(plan.added));
    reply.element("removed", std::to_string(plan.removed));
    reply.element("unchanged", std::to_string(plan.unchanged));
    return reply.finish();
  }

  std::string operator()(const ReadPrinter& c) {
    ReplyWriter reply;
    reply.objects(lookup_.searchBelow(lookup_.namingContexts(), c.filter, fullAttributes()), true);
    return reply.finish();
  }

  std::string operator()(const LinkedObjects& c) {
    std::vector<DirEntry> found = linkedObjects(lookup_, c);
    ReplyWriter reply;
    if (c.listNames) {
      for (const DirEntry& e : found) {
        reply.element("objectname", e.dn);
      }
    }
    reply.objects(found, true);
    return reply.finish();
  }

  std::string operator()(const LinkObjects& c) {
    changeLink(lookup_, c);
    return ReplyWriter().finish();
  }

  std::string operator()(const GetObjectName& c) {
    ReplyWriter reply;
    reply.element("objectname", lookup_.dnOf(c.objectId));
    return reply.finish();
  }

 private:
  DirectoryLookup lookup_;
  Directory& directory_;
};

}  // namespace

std::string CommandEngine::execute(DOM_Node command) {
  return run([&] { return parseCommand(command); });
}

std::string CommandEngine::execute(const xml::ElementTree& command) {
  return run([&] { return parseCommand(command); });
}

template <typename Parse>
std::string CommandEngine::run(Parse parse) {
  try {
    Command parsed = parse();
    Runner runner(directory_, namingContexts_);
    return std::visit(runner, parsed.body);
  } catch (const CommandError& e) {
    return errorReply(e.number(), e.what());
  } catch (const DirectoryError& e) {
    return errorReply(e.code(), e.what());
  } catch (const std::exception& e) {
    return errorReply(kErrInternal, std::string("internal error: ") + e.what());
  }
}

std::string errorReply(int number, const std::string& message) {
  return "<commandResult><error><errorNum>" + std::to_string(number) + "</errorNum><errorMsg>" +
         xmlText(message) + "</errorMsg></error></commandResult>";
}

}  // namespace nvo
