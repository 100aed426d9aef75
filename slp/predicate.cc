#include "slp/predicate.h"

#include <string>

#include "slp/text.h"

namespace vslp {

// Recursive-descent parser over the filter text; every method either consumes what it
// recognised or reports failure by returning false.
class Predicate::Parser {
 public:
  Parser(std::string_view text, std::vector<Node>& nodes) : text_(text), nodes_(nodes) {}

  bool parseAll() {
    size_t root = 0;
    if (!filter(0, root)) {
      return false;
    }
    skipSpace();
    return pos_ == text_.size();
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }

  bool take(char c) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool filter(int depth, size_t& index) {
    if (depth >= kMaxDepth || !take('(')) {
      return false;
    }
    index = nodes_.size();
    nodes_.emplace_back();
    skipSpace();
    if (pos_ >= text_.size()) {
      return false;
    }
    char c = text_[pos_];
    bool ok;
    if (c == '&' || c == '|') {
      ++pos_;
      ok = list(depth, index, c == '&' ? Kind::kAnd : Kind::kOr);
    } else if (c == '!') {
      ++pos_;
      size_t child = 0;
      ok = filter(depth + 1, child);
      nodes_[index].kind = Kind::kNot;
      nodes_[index].children.push_back(child);
    } else {
      ok = item(index);
    }
    return ok && take(')');
  }

  bool list(int depth, size_t index, Kind kind) {
    nodes_[index].kind = kind;
    do {
      size_t child = 0;
      if (!filter(depth + 1, child)) {
        return false;
      }
      nodes_[index].children.push_back(child);
      skipSpace();
    } while (pos_ < text_.size() && text_[pos_] == '(');
    return true;
  }

  bool item(size_t index) {
    size_t opAt = text_.find_first_of("=~<>()", pos_);
    if (opAt == std::string_view::npos || text_[opAt] == '(' || text_[opAt] == ')') {
      return false;
    }
    std::string_view tag = trim(text_.substr(pos_, opAt - pos_));
    Kind kind = Kind::kEqual;
    pos_ = opAt;
    if (text_[pos_] != '=') {
      kind = text_[pos_] == '~' ? Kind::kApprox : text_[pos_] == '>' ? Kind::kGreater : Kind::kLess;
      if (++pos_ >= text_.size() || text_[pos_] != '=') {
        return false;
      }
    }
    ++pos_;
    size_t end = text_.find_first_of("()", pos_);
    if (end == std::string_view::npos || text_[end] != ')') {
      return false;
    }
    std::string_view value = trim(text_.substr(pos_, end - pos_));
    pos_ = end;
    Node& node = nodes_[index];
    node.kind = kind;
    node.tag = std::string(tag);
    if (tag.empty() || !isWellEscaped(tag) || !unescapeText(tag, true)) {
      return false;
    }
    return kind == Kind::kEqual ? equalityValue(node, value) : plainValue(node, value);
  }

  static bool plainValue(Node& node, std::string_view value) {
    node.value = std::string(value);
    return !value.empty() && isWellEscaped(value);
  }

  static bool equalityValue(Node& node, std::string_view value) {
    if (value == "*") {
      node.kind = Kind::kPresent;
      return true;
    }
    if (value.find('*') == std::string_view::npos) {
      return plainValue(node, value);
    }
    node.kind = Kind::kSubstring;
    while (true) {
      size_t star = value.find('*');
      std::string_view piece = value.substr(0, star);
      if (!isWellEscaped(piece)) {
        return false;
      }
      node.parts.push_back(fold(unescapeText(piece, false).value_or("")));
      if (star == std::string_view::npos) {
        return true;
      }
      value.remove_prefix(star + 1);
    }
  }

  std::string_view text_;
  std::vector<Node>& nodes_;
  size_t pos_ = 0;
};

namespace {

bool substringMatch(const std::vector<std::string>& parts, const std::string& subject) {
  // parts: initial, any..., final; the first and last may be empty (leading/trailing '*').
  size_t pos = 0;
  const std::string& first = parts.front();
  if (subject.compare(0, first.size(), first) != 0) {
    return false;
  }
  pos = first.size();
  for (size_t i = 1; i + 1 < parts.size(); ++i) {
    size_t at = subject.find(parts[i], pos);
    if (at == std::string::npos) {
      return false;
    }
    pos = at + parts[i].size();
  }
  const std::string& last = parts.back();
  return subject.size() >= pos + last.size() &&
         subject.compare(subject.size() - last.size(), last.size(), last) == 0;
}

// -1, 0, 1 comparing two values of `type`; empty when they cannot be compared.
std::optional<int> compareValues(AttrType type, std::string_view mine, std::string_view theirs) {
  if (valueType(theirs) != type && type != AttrType::kString) {
    return std::nullopt;
  }
  switch (type) {
    case AttrType::kInteger: {
      long long a = std::stoll(fold(mine));
      long long b = std::stoll(fold(theirs));
      return a < b ? -1 : (a > b ? 1 : 0);
    }
    case AttrType::kBoolean:
    case AttrType::kOpaque: {
      int c = fold(mine).compare(fold(theirs));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case AttrType::kString: {
      auto a = compareKey(mine);
      auto b = compareKey(theirs);
      if (!a || !b) {
        return std::nullopt;
      }
      int c = a->compare(*b);
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case AttrType::kKeyword:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Predicate> Predicate::parse(std::string_view text) {
  Predicate p;
  if (trim(text).empty()) {
    return p;
  }
  Parser parser(trim(text), p.nodes_);
  if (!parser.parseAll()) {
    return std::nullopt;
  }
  return p;
}

bool Predicate::matches(const AttributeList& attrs) const {
  return nodes_.empty() || evaluate(0, attrs);
}

bool Predicate::evaluate(size_t index, const AttributeList& attrs) const {
  const Node& node = nodes_[index];
  switch (node.kind) {
    case Kind::kAnd:
      for (size_t child : node.children) {
        if (!evaluate(child, attrs)) {
          return false;
        }
      }
      return true;
    case Kind::kOr:
      for (size_t child : node.children) {
        if (evaluate(child, attrs)) {
          return true;
        }
      }
      return false;
    case Kind::kNot:
      return !evaluate(node.children.front(), attrs);
    default:
      break;
  }
  const Attribute* attr = attrs.find(node.tag);
  if (attr == nullptr) {
    return false;
  }
  if (node.kind == Kind::kPresent) {
    return true;
  }
  return attr->type != AttrType::kKeyword && compareItem(node, *attr);
}

bool Predicate::compareItem(const Node& node, const Attribute& attr) {
  for (const std::string& value : attr.values) {
    if (node.kind == Kind::kSubstring) {
      if (attr.type == AttrType::kString &&
          substringMatch(node.parts, compareKey(value).value_or(""))) {
        return true;
      }
      continue;
    }
    auto c = compareValues(attr.type, value, node.value);
    if (!c) {
      continue;
    }
    bool ordered = attr.type != AttrType::kBoolean;
    if ((node.kind == Kind::kEqual || node.kind == Kind::kApprox) && *c == 0) {
      return true;
    }
    if (ordered &&
        ((node.kind == Kind::kGreater && *c >= 0) || (node.kind == Kind::kLess && *c <= 0))) {
      return true;
    }
  }
  return false;
}

}  // namespace vslp
