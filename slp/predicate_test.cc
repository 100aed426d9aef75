#include "slp/predicate.h"

#include <string>

#include <gtest/gtest.h>

namespace vslp {
namespace {

const char* kAttrs =
    "(public_key=0),(name=Big Printer,Small One),(color=true),(pages=25),"
    "(blob=\\FF\\01\\02),duplex,(path=a\\2cb)";

struct Case {
  const char* filter;
  bool match;
};

TEST(PredicateTest, EvaluatesFilters) {
  auto attrs = *AttributeList::parse(kAttrs);
  const Case cases[] = {
      {"", true},
      {"(public_key=0)", true},
      {"(public_key=1)", false},
      {"(PUBLIC_KEY=0)", true},
      {"( public_key = 0 )", true},
      {"(name=big printer)", true},
      {"(name=small  one)", true},
      {"(name=big*)", true},
      {"(name=*one)", true},
      {"(name=b*g*r)", true},
      {"(name=*rint*)", true},
      {"(name=x*)", false},
      {"(name=*)", true},
      {"(missing=*)", false},
      {"(duplex=*)", true},
      {"(duplex=true)", false},
      {"(color=TRUE)", true},
      {"(color=1)", false},
      {"(pages>=25)", true},
      {"(pages>=26)", false},
      {"(pages<=100)", true},
      {"(pages=25)", true},
      {"(pages=025)", true},
      {"(pages=true)", false},
      {"(color>=false)", false},
      {"(name~=BIG PRINTER)", true},
      {"(name>=c)", true},
      {"(blob=\\ff\\01\\02)", true},
      {"(path=a\\2cb)", true},
      {"(&(public_key=0)(pages=25))", true},
      {"(&(public_key=0)(pages=26))", false},
      {"(|(public_key=1)(pages=25))", true},
      {"(|(public_key=1)(pages=26))", false},
      {"(!(public_key=1))", true},
      {"(!(public_key=0))", false},
      {"(&(|(a=1)(duplex=*))(!(color=false)))", true},
  };
  for (const Case& c : cases) {
    auto p = Predicate::parse(c.filter);
    ASSERT_TRUE(p) << c.filter;
    EXPECT_EQ(p->matches(attrs), c.match) << c.filter;
  }
}

TEST(PredicateTest, RejectsMalformedFilters) {
  for (const char* bad :
       {"public_key=0", "(public_key=0", "(public_key=0))", "()", "(&)", "(!)", "(=0)", "(a<0)",
        "(a=b)(c=d)", "(a=\\zz)", "(a=(b))", "(a>=)", "(&(a=1)", "(a=1) x"}) {
    EXPECT_FALSE(Predicate::parse(bad)) << bad;
  }
}

TEST(PredicateTest, LimitsNesting) {
  std::string deep;
  for (int i = 0; i < Predicate::kMaxDepth - 1; ++i) {
    deep += "(!";
  }
  deep += "(a=1)" + std::string(Predicate::kMaxDepth - 1, ')');
  EXPECT_TRUE(Predicate::parse(deep));
  std::string tooDeep;
  for (int i = 0; i < 10000; ++i) {
    tooDeep += "(!";
  }
  EXPECT_FALSE(Predicate::parse(tooDeep + "(a=1)"));
}

}  // namespace
}  // namespace vslp
