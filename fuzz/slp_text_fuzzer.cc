// Fuzz target: the SLP text parsers that work on strings out of messages: attribute lists,
// search filters (predicates), service URLs and the escaping rules. The first input byte picks
// the parser, the rest is the text.
//
// Properties checked besides "never crashes": an attribute list that parses parses again from
// its own wire form to the same wire form; a filter that parses can be matched against any
// list; unescaping what was escaped gives the text back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "slp/attr_list.h"
#include "slp/predicate.h"
#include "slp/srv_url.h"
#include "slp/text.h"

namespace {

const vslp::AttributeList& sampleList() {
  static const vslp::AttributeList* list = new vslp::AttributeList(
      vslp::AttributeList::parse("(public_key=0),(names=a,b,c),(size=42),(on=true),secure,"
                                 "(blob=\\FF\\00\\01)")
          .value());
  return *list;
}

void attributes(std::string_view text) {
  const std::optional<vslp::AttributeList> list = vslp::AttributeList::parse(text);
  if (!list) {
    return;
  }
  const std::string wire = list->toWire();
  const std::optional<vslp::AttributeList> again = vslp::AttributeList::parse(wire);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->toWire() == wire);
  vslp::AttributeList merged = sampleList();
  merged.merge(*list);
  merged.update(*list);
  (void)merged.select("*a*,names");
  merged.remove("s*");
}

void predicate(std::string_view text) {
  const std::optional<vslp::Predicate> filter = vslp::Predicate::parse(text);
  if (!filter) {
    return;
  }
  (void)filter->matches(sampleList());
  (void)filter->matches(vslp::AttributeList());
}

void url(std::string_view text) {
  const std::optional<vslp::ParsedUrl> parsed = vslp::parseServiceUrl(text);
  if (parsed) {
    FUZZ_CHECK(parsed->port >= 0 && parsed->port <= 65535);
  }
  (void)vslp::serviceTypeOfUrl(text);
  (void)vslp::normalizeServiceType(text);
  (void)vslp::namingAuthorityOf(text);
}

void escaping(std::string_view text, bool isTag) {
  if (const std::optional<std::string> escaped = vslp::escapeText(text, isTag)) {
    FUZZ_CHECK(vslp::isWellEscaped(*escaped));
    const std::optional<std::string> back = vslp::unescapeText(*escaped, isTag);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == text);
  }
  (void)vslp::unescapeText(text, isTag);
  (void)vslp::isValidUtf8(text);
  (void)vslp::isValidLanguageTag(text);
  (void)vslp::isValidTagList(text);
  (void)vslp::splitList(text);
  (void)vslp::wildcardMatch(text, "public_key");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      attributes(text);
      break;
    case 1:
      predicate(text);
      break;
    case 2:
      url(text);
      break;
    case 3:
      escaping(text, false);
      break;
    default:
      escaping(text, true);
      break;
  }
  return 0;
}
