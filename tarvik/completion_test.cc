#include "tarvik/completion.h"

#include <gtest/gtest.h>

#include "tarvik/location.h"

namespace tarvik {
namespace {

using Names = std::vector<std::string>;

ChildListing listing() {
  ChildListing l;
  for (const char* name : {"Lab printer", "Lab", "Office", "Workstations"}) {
    l.store(LocationEntry{std::string("id-") + name, name, "organizationalunit"});
  }
  return l;
}

TEST(CompletionTest, CommandNamesAtTheStartOfTheLine) {
  const ChildListing l = listing();
  Completion c = completeLine("se", l);
  EXPECT_EQ(c.start, 0u);
  EXPECT_EQ(c.candidates, (Names{"search", "searchcomputers"}));
  EXPECT_EQ(commonPrefix(c.candidates), "search");

  c = completeLine("mod", l);
  EXPECT_EQ(c.candidates, Names{"modify"});
  EXPECT_TRUE(c.appendBlank);  // modify takes a name

  c = completeLine("l", l);
  EXPECT_EQ(c.candidates, (Names{"link", "locate", "ls"}));
  c = completeLine("ls", l);
  EXPECT_EQ(c.candidates, Names{"ls"});
  EXPECT_FALSE(c.appendBlank);  // "ls " would be an unknown command

  c = completeLine("q", l);
  EXPECT_EQ(c.candidates, Names{"quit"});  // the alias q is not offered
  EXPECT_TRUE(completeLine("x", l).candidates.empty());
}

TEST(CompletionTest, ChildNamesAsTheWholeArgumentOfNameCommands) {
  const ChildListing l = listing();
  for (const char* command : {"cd", "cat", "delete", "modify"}) {
    const std::string line = std::string(command) + " La";
    Completion c = completeLine(line, l);
    EXPECT_EQ(c.start, std::string(command).size() + 1) << command;
    EXPECT_EQ(c.candidates, (Names{"Lab", "Lab printer"})) << command;
    EXPECT_FALSE(c.appendBlank);
  }
  EXPECT_EQ(completeLine("cd Lab p", l).candidates, Names{"Lab printer"});
  EXPECT_EQ(completeLine("cd ", l).candidates.size(), 4u);
  EXPECT_TRUE(completeLine("create La", l).candidates.empty());
  EXPECT_TRUE(completeLine("ls La", l).candidates.empty());
  EXPECT_TRUE(completeLine("cdx La", l).candidates.empty());
  EXPECT_TRUE(completeLine("cd La", ChildListing{}).candidates.empty());
}

TEST(CompletionTest, CommonPrefix) {
  EXPECT_EQ(commonPrefix({}), "");
  EXPECT_EQ(commonPrefix({"abc"}), "abc");
  EXPECT_EQ(commonPrefix({"Lab", "Lab printer", "Labs"}), "Lab");
  EXPECT_EQ(commonPrefix({"a", "b"}), "");
}

}  // namespace
}  // namespace tarvik
