#include "slp/attr_list.h"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "slp/text.h"

namespace vslp {
namespace {

bool isValidTag(std::string_view tag) {
  if (tag.empty() || !isWellEscaped(tag)) {
    return false;
  }
  auto raw = unescapeText(tag, true);
  return raw.has_value() && !trim(*raw).empty();
}

bool tagMatchesList(const std::string& tagKey, std::string_view tagList) {
  for (std::string_view pattern : splitList(tagList)) {
    auto p = unescapeText(pattern, false);
    if (p && wildcardMatch(*p, tagKey)) {
      return true;
    }
  }
  return false;
}

}  // namespace

AttrType valueType(std::string_view v) {
  std::string folded = fold(v);
  if (folded == "true" || folded == "false") {
    return AttrType::kBoolean;
  }
  if (folded.size() >= 3 && folded.compare(0, 3, "\\ff") == 0) {
    return AttrType::kOpaque;
  }
  std::string_view digits = folded;
  if (!digits.empty() && digits.front() == '-') {
    digits.remove_prefix(1);
  }
  if (!digits.empty() && digits.size() <= 10 &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    long long n = std::stoll(folded);
    if (n >= INT_MIN && n <= INT_MAX) {
      return AttrType::kInteger;
    }
  }
  return AttrType::kString;
}

std::optional<std::string> compareKey(std::string_view escaped) {
  auto raw = unescapeText(escaped, false);
  if (!raw) {
    return std::nullopt;
  }
  return fold(*raw);
}

bool AttributeList::parseElement(std::string_view element, Attribute& out) {
  element = trim(element);
  if (element.empty() || element.front() != '(') {
    out.tag = std::string(element);
    out.type = AttrType::kKeyword;
    return isValidTag(element);
  }
  if (element.size() < 2 || element.back() != ')') {
    return false;
  }
  std::string_view inner = element.substr(1, element.size() - 2);
  size_t eq = inner.find('=');
  if (eq == std::string_view::npos) {
    return false;
  }
  std::string_view tag = trim(inner.substr(0, eq));
  if (!isValidTag(tag)) {
    return false;
  }
  out.tag = std::string(tag);
  std::string_view values = inner.substr(eq + 1);
  bool first = true;
  while (true) {
    size_t comma = values.find(',');
    std::string_view value = trim(values.substr(0, comma));
    if (value.empty() || !isWellEscaped(value)) {
      return false;
    }
    AttrType type = valueType(value);
    if (!first && type != out.type) {
      return false;
    }
    out.type = type;
    first = false;
    out.values.emplace_back(value);
    if (comma == std::string_view::npos) {
      return true;
    }
    values.remove_prefix(comma + 1);
  }
}

std::optional<AttributeList> AttributeList::parse(std::string_view wire) {
  AttributeList list;
  if (trim(wire).empty()) {
    return list;
  }
  size_t start = 0;
  int depth = 0;
  for (size_t i = 0; i <= wire.size(); ++i) {
    char c = i < wire.size() ? wire[i] : ',';
    if (c == '(') {
      if (++depth > 1) {
        return std::nullopt;
      }
    } else if (c == ')') {
      if (--depth < 0) {
        return std::nullopt;
      }
    } else if (c == ',' && (depth == 0 || i == wire.size())) {
      if (depth != 0) {
        return std::nullopt;
      }
      Attribute a;
      if (!parseElement(wire.substr(start, i - start), a)) {
        return std::nullopt;
      }
      list.attrs_.push_back(std::move(a));
      start = i + 1;
    }
  }
  return list;
}

std::string AttributeList::toWire() const {
  std::string out;
  for (const Attribute& a : attrs_) {
    if (!out.empty()) {
      out += ',';
    }
    if (a.type == AttrType::kKeyword) {
      out += a.tag;
      continue;
    }
    out += '(' + a.tag + '=';
    for (size_t i = 0; i < a.values.size(); ++i) {
      out += (i == 0 ? "" : ",") + a.values[i];
    }
    out += ')';
  }
  return out;
}

std::vector<Attribute>::iterator AttributeList::findMutable(std::string_view tag) {
  auto key = compareKey(tag);
  return std::find_if(attrs_.begin(), attrs_.end(),
                      [&key](const Attribute& a) { return compareKey(a.tag) == key; });
}

const Attribute* AttributeList::find(std::string_view tag) const {
  auto key = compareKey(tag);
  auto it = std::find_if(attrs_.begin(), attrs_.end(),
                         [&key](const Attribute& a) { return compareKey(a.tag) == key; });
  return it == attrs_.end() ? nullptr : &*it;
}

AttributeList AttributeList::select(std::string_view tagList) const {
  if (splitList(tagList).empty()) {
    return *this;
  }
  AttributeList out;
  for (const Attribute& a : attrs_) {
    if (tagMatchesList(compareKey(a.tag).value_or(""), tagList)) {
      out.attrs_.push_back(a);
    }
  }
  return out;
}

void AttributeList::update(const AttributeList& update) {
  for (const Attribute& a : update.attrs_) {
    auto it = findMutable(a.tag);
    if (it == attrs_.end()) {
      attrs_.push_back(a);
    } else {
      *it = a;
    }
  }
}

void AttributeList::merge(const AttributeList& other) {
  *this = mergeAll({this, &other});
}

AttributeList AttributeList::mergeAll(const std::vector<const AttributeList*>& lists) {
  AttributeList out;
  std::unordered_map<std::string, size_t> byTag;
  std::vector<std::unordered_set<std::string>> valueKeys;
  auto valueKey = [](AttrType type, const std::string& v) {
    // Opaque values compare by their escaped bytes, whose hex digits differ only in case.
    return type == AttrType::kOpaque ? fold(v) : compareKey(v).value_or(v);
  };
  for (const AttributeList* list : lists) {
    for (const Attribute& a : list->attrs_) {
      std::string tag = compareKey(a.tag).value_or(a.tag);
      auto [it, added] = byTag.try_emplace(tag, out.attrs_.size());
      if (added) {
        out.attrs_.push_back(Attribute{a.tag, a.type, {}});
        valueKeys.emplace_back();
      }
      Attribute& mine = out.attrs_[it->second];
      if (mine.type != a.type) {
        continue;
      }
      for (const std::string& v : a.values) {
        if (valueKeys[it->second].insert(valueKey(a.type, v)).second) {
          mine.values.push_back(v);
        }
      }
    }
  }
  return out;
}

void AttributeList::remove(std::string_view tagList) {
  std::erase_if(attrs_, [tagList](const Attribute& a) {
    return tagMatchesList(compareKey(a.tag).value_or(""), tagList);
  });
}

bool isValidTagList(std::string_view tagList) {
  for (std::string_view pattern : splitList(tagList)) {
    std::string noStars(pattern);
    std::erase(noStars, '*');
    if (!isWellEscaped(noStars)) {
      return false;
    }
  }
  return true;
}

}  // namespace vslp
