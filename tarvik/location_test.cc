#include "tarvik/location.h"

#include <vector>

#include <gtest/gtest.h>

namespace tarvik {
namespace {

LocationEntry entry(const std::string& name, const std::string& id = "id") {
  return LocationEntry{id + "-" + name, name, "organizationalunit"};
}

TEST(LocationStateTest, UpwardTargetsStopAtTheRoot) {
  LocationState s;
  EXPECT_TRUE(s.atRoot());
  EXPECT_FALSE(s.up(1));
  EXPECT_FALSE(s.toRoot());
  s.enter(entry("a"));
  s.enter(entry("b"));
  EXPECT_EQ(s.depth(), 2);
  EXPECT_EQ(s.current(), entry("b"));
  EXPECT_TRUE(s.up(3));  // the third pop is skipped: the depth reached 0
  EXPECT_EQ(s.depth(), 0);
  EXPECT_EQ(s.current(), rootEntry());
  s.enter(entry("a"));
  s.enter(entry("b"));
  s.enter(entry("c"));
  EXPECT_TRUE(s.up(2));
  EXPECT_EQ(s.current(), entry("a"));
  EXPECT_TRUE(s.toRoot());
  EXPECT_TRUE(s.atRoot());
  EXPECT_EQ(s.current().displayName, "Top");
}

TEST(ChildListingTest, OrderedByteWiseWithTheLaterDuplicateWinning) {
  ChildListing l;
  for (const LocationEntry& e : {entry("beta", "1"), entry("Zulu", "2"), entry("alpha", "3"),
                                 entry("beta", "4"), entry("B", "5")}) {
    l.store(e);
  }
  std::vector<std::string> names;
  for (const auto& [name, e] : l.entries()) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"B", "Zulu", "alpha", "beta"}));
  ASSERT_NE(l.find("beta"), nullptr);
  EXPECT_EQ(l.find("beta")->objectId, "4-beta");
  EXPECT_EQ(l.find("Beta"), nullptr);
  EXPECT_FALSE(l.loaded());
  l.markLoaded();
  l.discard();
  EXPECT_FALSE(l.loaded());
  EXPECT_TRUE(l.empty());
}

}  // namespace
}  // namespace tarvik
