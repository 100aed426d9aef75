#include "gateway/inventory_plan.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace nvo {
namespace {

const char kPc[] = "cn=pc,o=orvanta";

DirEntry held(const std::string& rdn, const std::vector<std::string>& cns,
              const InstalledPackage& p) {
  DirEntry e;
  e.dn = rdn + "," + kPc;
  e.attributes = {{"cn", cns}, {"orvantaname", {p.name}}, {"orvantaversion", {p.version}}};
  if (!p.release.empty()) {
    e.attributes.push_back({"orvantarelease", {p.release}});
  }
  if (!p.arch.empty()) {
    e.attributes.push_back({"orvantaarch", {p.arch}});
  }
  return e;
}

// Each change as "delete DN", "add DN" or "model V..." in plan order.
std::vector<std::string> steps(const InventoryPlan& plan) {
  std::vector<std::string> out;
  for (const DirChange& c : plan.changes) {
    switch (c.kind) {
      case DirChange::Kind::kDelete:
        out.push_back("delete " + c.dn);
        break;
      case DirChange::Kind::kAdd:
        out.push_back("add " + c.dn);
        break;
      case DirChange::Kind::kModify: {
        std::string text = "model";
        for (const std::string& v : c.changes.at(0).values) {
          text += " " + v;
        }
        out.push_back(text);
        break;
      }
    }
  }
  return out;
}

TEST(InventoryPlanTest, KeepsWhatIsRightAndOrdersAddsBeforeDeletes) {
  const InstalledPackage bash52{"bash", "5.2", "1", "amd64"};
  const InstalledPackage bash51{"bash", "5.1", "6", "amd64"};
  const InstalledPackage fresh{"fresh", "1", "", ""};
  const InstalledPackage old{"old", "1", "1", "amd64"};
  const std::vector<DirEntry> present = {
      held("cn=bash/5.2/1/amd64", {"bash/5.2/1/amd64"}, bash52),  // right: kept
      held("cn=bash", {"bash"}, bash51),                          // named otherwise
      held("cn=fresh/1//", {"fresh/1//"}, old),                   // its name, other contents
      held("cn=old/1/1/amd64", {"old/1/1/amd64", "x"}, old),      // two names
  };
  ReplaceInventory report{"", std::string("Model 2"), {bash52, bash51, fresh, old}};
  InventoryPlan plan = planInventory(kPc, present, {"Model 1"}, report);
  // Entries whose name a reported package takes go first (cn=fresh/1//, other contents;
  // cn=old/1/1/amd64, two names), then the adds, then the rest.
  EXPECT_EQ(steps(plan), (std::vector<std::string>{
                             "delete cn=fresh/1//,cn=pc,o=orvanta",
                             "delete cn=old/1/1/amd64,cn=pc,o=orvanta",
                             "add cn=bash/5.1/6/amd64,cn=pc,o=orvanta",
                             "add cn=fresh/1//,cn=pc,o=orvanta",
                             "add cn=old/1/1/amd64,cn=pc,o=orvanta",
                             "delete cn=bash,cn=pc,o=orvanta",
                             "model Model 2",
                         }));
  EXPECT_EQ(plan.added, 3u);
  EXPECT_EQ(plan.removed, 3u);
  EXPECT_EQ(plan.unchanged, 1u);
  const DirChange& add = plan.changes[3];
  ASSERT_EQ(add.kind, DirChange::Kind::kAdd);
  std::vector<std::string> names;
  for (const DirAttribute& a : add.attributes) {
    names.push_back(a.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"objectClass", "cn", "orvantaname", "orvantaversion"}))
      << "an empty release and architecture are left out";
}

TEST(InventoryPlanTest, AnUnchangedReportChangesNothingAndAnUnknownModelIsRemoved) {
  const InstalledPackage p{"a", "1", "2", "all"};
  const std::vector<DirEntry> present = {held("cn=a/1/2/all", {"a/1/2/all"}, p)};
  struct Case {
    std::vector<std::string> presentModel;
    std::optional<std::string> reported;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"M"}, std::string("M"), {}},          {{}, std::nullopt, {}},
      {{"M"}, std::nullopt, {"model"}},       {{}, std::string("N"), {"model N"}},
      {{"M"}, std::string("m"), {"model m"}},
  };
  for (const Case& c : cases) {
    InventoryPlan plan = planInventory(kPc, present, c.presentModel, {"", c.reported, {p}});
    EXPECT_EQ(steps(plan), c.expected);
    EXPECT_EQ(plan.unchanged, 1u);
  }
}

}  // namespace
}  // namespace nvo
