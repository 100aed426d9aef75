// The search-parameter forms of text-form commands, the operator question, and the two object
// lookups that several commands share (by name within a class, and a container by name).
#ifndef TARVIK_SEARCH_FORMS_H_
#define TARVIK_SEARCH_FORMS_H_

#include <string>
#include <string_view>

namespace tarvik {

class Console;
class Prompter;

inline constexpr std::string_view kNoMatch = "<nomatch/>";

// <attribute>name</attribute>: an attribute the search returns.
std::string returnAttribute(std::string_view name);
// <includeobjectclass>class</includeobjectclass>
std::string classFilter(std::string_view objectClass);
// <attribute op="OP">value</attribute>: one condition inside searchParams.
std::string condition(std::string_view attribute, std::string_view op, std::string_view value);

// The operator question (a stream question with `prompt`); "EQ" for an empty answer or a
// failed read, otherwise the answer as typed.
std::string askOperator(Prompter& prompter, const std::string& prompt);

// The objectID of the first object of `objectClass` whose cn is `name`; empty when there is
// none, when the answer is unusable or carries an error (printed).
std::string lookupByName(Console& console, const std::string& name, const std::string& objectClass);

// The objectID of the organizational unit named `name`, or else of the organization of that
// name; empty when neither exists or the first search printed an error.
std::string lookupContainer(Console& console, const std::string& name);

}  // namespace tarvik

#endif  // TARVIK_SEARCH_FORMS_H_
