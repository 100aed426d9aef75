#include "tarvik/search_forms.h"

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/prompter.h"

namespace tarvik {

std::string returnAttribute(std::string_view name) {
  return std::string("<attribute>").append(name).append("</attribute>");
}

std::string classFilter(std::string_view objectClass) {
  return std::string("<includeobjectclass>").append(objectClass).append("</includeobjectclass>");
}

std::string condition(std::string_view attribute, std::string_view op, std::string_view value) {
  std::string text = "<";
  text.append(attribute).append(" op=\"").append(op).append("\">").append(value);
  return text.append("</").append(attribute).append(">");
}

std::string askOperator(Prompter& prompter, const std::string& prompt) {
  const std::optional<std::string> answer = prompter.askStream(prompt);
  return answer && !answer->empty() ? *answer : std::string("EQ");
}

namespace {

// One search for objects of `objectClass` whose `attribute` equals `name`: the first object's
// ID, and whether the answer carried an error.
struct Found {
  std::string objectId;
  bool error = false;
};

Found searchOne(Console& console, const std::string& objectClass, const std::string& attribute,
                const std::string& name) {
  TextCommand command("catNone", "searchObjects");
  command.append(classFilter(objectClass)).append(returnAttribute("objectclass"));
  command.append("<searchParams>").append(condition(attribute, "EQ", name));
  command.append("</searchParams>");
  nvo::DOM_Node answer = console.gateway().send(command);
  switch (checkResult(answer, console.out())) {
    case Outcome::kError:
      return {"", true};
    case Outcome::kUnusable:
      return {};
    case Outcome::kOk:
      break;
  }
  const auto objects = objectsOf(answer);
  return {objects.empty() ? std::string() : childText(objects.front(), "objectID"), false};
}

}  // namespace

std::string lookupByName(Console& console, const std::string& name,
                         const std::string& objectClass) {
  return searchOne(console, objectClass, "cn", name).objectId;
}

std::string lookupContainer(Console& console, const std::string& name) {
  Found unit = searchOne(console, "organizationalunit", "ou", name);
  if (!unit.objectId.empty() || unit.error) {
    return unit.objectId;
  }
  return searchOne(console, "organization", "o", name).objectId;
}

}  // namespace tarvik
