// AttributeList: a parsed SLP attribute list (RFC 2608 section 5), e.g.
// "(public_key=0),(names=a,b),secure". Attributes keep the exact text (case, escapes and inner
// white space) they were registered with, so replies carry them unchanged; comparisons use
// the unescaped, folded forms. Value, copyable; not thread-safe.
#ifndef SLP_ATTR_LIST_H_
#define SLP_ATTR_LIST_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vslp {

enum class AttrType { kKeyword, kString, kInteger, kBoolean, kOpaque };

struct Attribute {
  std::string tag;  // escaped form, trimmed
  AttrType type = AttrType::kKeyword;
  std::vector<std::string> values;  // escaped forms, trimmed; empty for keywords
};

// The type a single escaped value has: integer ([-]digits within 32 bits), boolean
// ("true"/"false"), opaque ("\FF" followed by escaped bytes) or string.
AttrType valueType(std::string_view escapedValue);

// Comparison key of an escaped tag or string value: unescaped and folded. Empty optional
// when the escapes are malformed.
std::optional<std::string> compareKey(std::string_view escaped);

class AttributeList {
 public:
  AttributeList() = default;

  // Parses `wire`. Empty optional on a syntax error: unbalanced parentheses, an empty or
  // malformed tag, a bad escape, a raw reserved character, an empty value, or values of one
  // attribute with different types. An empty string is the empty list.
  static std::optional<AttributeList> parse(std::string_view wire);

  // The wire form, attributes separated by commas.
  std::string toWire() const;

  const std::vector<Attribute>& attributes() const { return attrs_; }
  bool empty() const { return attrs_.empty(); }

  // The attribute whose tag equals `tag` (unescaped, folded), or nullptr.
  const Attribute* find(std::string_view tag) const;

  // The attributes whose tags match an element of the tag list `tagList` ('*' wildcards);
  // everything when the list is empty.
  AttributeList select(std::string_view tagList) const;

  // Incremental registration: attributes of `update` replace those with the same tag, new
  // ones are appended.
  void update(const AttributeList& update);

  // Union for replies that combine registrations: values of equal tags are merged without
  // duplicates; an attribute whose type differs from the one present is left out.
  void merge(const AttributeList& other);
  // The union of all `lists` in that order, in time linear in their size.
  static AttributeList mergeAll(const std::vector<const AttributeList*>& lists);

  // Removes the attributes whose tags match an element of `tagList`.
  void remove(std::string_view tagList);

 private:
  static bool parseElement(std::string_view element, Attribute& out);
  std::vector<Attribute>::iterator findMutable(std::string_view tag);

  std::vector<Attribute> attrs_;
};

// True when every element of the tag list is a valid tag pattern (escapes well-formed, no
// reserved characters other than the '*' wildcard).
bool isValidTagList(std::string_view tagList);

}  // namespace vslp

#endif  // SLP_ATTR_LIST_H_
