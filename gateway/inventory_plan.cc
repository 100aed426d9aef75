#include "gateway/inventory_plan.h"

#include <map>
#include <set>
#include <utility>

#include "gateway/ldap_text.h"

namespace nvo {

namespace {

DirChange addition(const std::string& computerDn, const InstalledPackage& p) {
  std::string cn = installedPackageCn(p);
  std::vector<DirAttribute> attributes = {{"objectClass", {"orvantainstalledpackage"}},
                                          {"cn", {cn}},
                                          {"orvantaname", {p.name}},
                                          {"orvantaversion", {p.version}}};
  if (!p.release.empty()) {
    attributes.push_back({"orvantarelease", {p.release}});
  }
  if (!p.arch.empty()) {
    attributes.push_back({"orvantaarch", {p.arch}});
  }
  return {DirChange::Kind::kAdd, "cn=" + escapeRdnValue(cn) + "," + computerDn, attributes, {}};
}

}  // namespace

InventoryPlan planInventory(const std::string& computerDn, const std::vector<DirEntry>& present,
                            const std::vector<std::string>& presentModel,
                            const ReplaceInventory& report) {
  // Reported packages by entry name (as the directory compares names); null once one is kept.
  std::map<std::string, const InstalledPackage*> wanted;
  for (const InstalledPackage& p : report.packages) {
    wanted.emplace(lowerAscii(installedPackageCn(p)), &p);
  }
  InventoryPlan plan;
  std::vector<DirChange> clashing;
  std::vector<DirChange> later;
  for (const DirEntry& e : present) {
    InstalledPackage held{e.first("orvantaname"), e.first("orvantaversion"),
                          e.first("orvantarelease"), e.first("orvantaarch")};
    std::string key = lowerAscii(installedPackageCn(held));
    auto rdns = splitDn(e.dn);
    std::string rdn = rdns && !rdns->empty() ? rdns->front() : std::string();
    bool namedByCn = lowerAscii(rdnType(rdn)) == "cn";
    // Kept only when named as installedPackageCn names it, so no new entry can clash with it.
    bool named = namedByCn && e.values("cn").size() == 1 && lowerAscii(e.first("cn")) == key;
    auto it = wanted.find(key);
    if (named && it != wanted.end() && it->second != nullptr) {
      it->second = nullptr;
      ++plan.unchanged;
      continue;
    }
    bool clashes = namedByCn && wanted.count(lowerAscii(rdnValue(rdn))) > 0;
    (clashes ? clashing : later).push_back({DirChange::Kind::kDelete, e.dn, {}, {}});
  }
  plan.removed = clashing.size() + later.size();
  plan.changes = std::move(clashing);
  for (const InstalledPackage& p : report.packages) {
    if (wanted[lowerAscii(installedPackageCn(p))] == &p) {
      plan.changes.push_back(addition(computerDn, p));
      ++plan.added;
    }
  }
  plan.changes.insert(plan.changes.end(), later.begin(), later.end());
  bool modelChanged = report.model
                          ? presentModel.size() != 1 || presentModel.front() != *report.model
                          : !presentModel.empty();
  if (modelChanged) {
    std::vector<std::string> values;
    if (report.model) {
      values.push_back(*report.model);
    }
    plan.changes.push_back({DirChange::Kind::kModify,
                            computerDn,
                            {},
                            {{Modification::Op::kReplace, "orvantamodel", values}}});
  }
  return plan;
}

}  // namespace nvo
