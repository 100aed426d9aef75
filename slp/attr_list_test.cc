#include "slp/attr_list.h"

#include <gtest/gtest.h>

namespace vslp {
namespace {

TEST(AttrListTest, ParsesAndKeepsTheRegisteredText) {
  auto list = AttributeList::parse("(public_key=0), (Name = Big Printer ),secure,(ids=1,2,-3)");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->attributes().size(), 4u);
  EXPECT_EQ(list->attributes()[0].type, AttrType::kInteger);
  EXPECT_EQ(list->attributes()[1].tag, "Name");
  EXPECT_EQ(list->attributes()[1].values[0], "Big Printer");
  EXPECT_EQ(list->attributes()[2].type, AttrType::kKeyword);
  EXPECT_EQ(list->attributes()[3].values.size(), 3u);
  EXPECT_EQ(list->toWire(), "(public_key=0),(Name=Big Printer),secure,(ids=1,2,-3)");
}

TEST(AttrListTest, RecognisesValueTypes) {
  EXPECT_EQ(valueType("42"), AttrType::kInteger);
  EXPECT_EQ(valueType("-7"), AttrType::kInteger);
  EXPECT_EQ(valueType("99999999999"), AttrType::kString) << "beyond 32 bits";
  EXPECT_EQ(valueType("TRUE"), AttrType::kBoolean);
  EXPECT_EQ(valueType("\\FF\\00\\01"), AttrType::kOpaque);
  EXPECT_EQ(valueType("12a"), AttrType::kString);
}

TEST(AttrListTest, RejectsMalformedLists) {
  for (const char* bad : {"(a=1", "a=1)", "((a=1))", "(=1)", "(a=)", "(a=1,)", "(a=1,x)",
                          "(a=true,3)", "(a=b=c)", "(a=\\zz)", "bad*tag", "(a)", ",", "a,,b"}) {
    EXPECT_FALSE(AttributeList::parse(bad)) << bad;
  }
  EXPECT_TRUE(AttributeList::parse(""));
  EXPECT_TRUE(AttributeList::parse("(a=x\\2cy)"));
}

TEST(AttrListTest, SelectsByTagListWithWildcards) {
  auto list = *AttributeList::parse("(public_key=0),(public_name=x),(other=1),flag");
  EXPECT_EQ(list.select("").toWire(), list.toWire());
  EXPECT_EQ(list.select("PUBLIC_KEY").toWire(), "(public_key=0)");
  EXPECT_EQ(list.select("public*").toWire(), "(public_key=0),(public_name=x)");
  EXPECT_EQ(list.select("flag, other").toWire(), "(other=1),flag");
  EXPECT_EQ(list.select("none").toWire(), "");
}

TEST(AttrListTest, UpdatesMergesAndRemoves) {
  auto list = *AttributeList::parse("(a=1),(b=x)");
  list.update(*AttributeList::parse("(b=y),(c=2)"));
  EXPECT_EQ(list.toWire(), "(a=1),(b=y),(c=2)");

  auto merged = *AttributeList::parse("(a=1),(s=Foo)");
  merged.merge(*AttributeList::parse("(a=1,2),(s=foo,bar),(a2=true),(s=9)"));
  EXPECT_EQ(merged.toWire(), "(a=1,2),(s=Foo,bar),(a2=true)");

  list.remove("a,c*");
  EXPECT_EQ(list.toWire(), "(b=y)");
}

TEST(AttrListTest, FindsByUnescapedFoldedTag) {
  auto list = *AttributeList::parse("(My Tag=1)");
  EXPECT_NE(list.find("my  tag"), nullptr);
  EXPECT_EQ(list.find("mytag"), nullptr);
}

TEST(AttrListTest, ValidatesTagLists) {
  EXPECT_TRUE(isValidTagList("a,b*,*c"));
  EXPECT_TRUE(isValidTagList(""));
  EXPECT_FALSE(isValidTagList("a(b"));
  EXPECT_FALSE(isValidTagList("a\\q1"));
}

}  // namespace
}  // namespace vslp
