// Predicate: an LDAPv3 search filter (RFC 2254) as SLP uses it to select services by their
// attributes (RFC 2608 section 8.1): "&", "|", "!", equality, approximate, ">=", "<=",
// presence ("(tag=*)") and substrings ("(tag=ab*cd*)"). A term matches when any value of the
// attribute matches, and only values of the attribute's type compare ("(x=33)" never matches
// x=true). Keywords match presence only. Parsing is recursive with a depth limit, so hostile
// text cannot exhaust the stack. Value, copyable; matching is const and thread-compatible.
#ifndef SLP_PREDICATE_H_
#define SLP_PREDICATE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "slp/attr_list.h"

namespace vslp {

class Predicate {
 public:
  // Deepest nesting of parentheses accepted.
  static constexpr int kMaxDepth = 32;

  // Parses `text`; empty (or white-space) text matches everything. Empty optional on a
  // syntax error, a bad escape or nesting deeper than kMaxDepth.
  static std::optional<Predicate> parse(std::string_view text);

  // True when `attrs` satisfy the filter.
  bool matches(const AttributeList& attrs) const;

  // True for the filter of empty text.
  bool matchesAll() const { return nodes_.empty(); }

 private:
  enum class Kind { kAnd, kOr, kNot, kEqual, kApprox, kGreater, kLess, kPresent, kSubstring };
  struct Node {
    Kind kind = Kind::kAnd;
    std::string tag;                 // escaped
    std::string value;               // escaped, for comparisons
    std::vector<std::string> parts;  // unescaped, folded substring pieces (first/last may be "")
    std::vector<size_t> children;    // indexes into nodes_
  };
  class Parser;

  bool evaluate(size_t index, const AttributeList& attrs) const;
  static bool compareItem(const Node& node, const Attribute& attr);

  std::vector<Node> nodes_;  // nodes_[0] is the root when not empty
};

}  // namespace vslp

#endif  // SLP_PREDICATE_H_
