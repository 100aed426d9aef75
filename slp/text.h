// Text rules of SLP (RFC 2608 sections 5, 6.4 and 9.4, RFC 2609): case-insensitive comparison
// with folded white space, comma lists, '\XX' escapes, language tags, service-type matching.
// Pure functions; any thread.
#ifndef SLP_TEXT_H_
#define SLP_TEXT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vslp {

// `s` without leading and trailing white space.
std::string_view trim(std::string_view s);

// Comparison form of an SLP string: trimmed, inner white-space runs folded to one space, ASCII
// letters lower-cased.
std::string fold(std::string_view s);

// True when `a` and `b` are equal under fold().
bool equalFolded(std::string_view a, std::string_view b);

// Splits a comma list; empty elements (after trimming) are dropped. Escaped commas ("\2c")
// are not separators, since escaping removes every raw comma from a value.
std::vector<std::string_view> splitList(std::string_view list);

// True when some element of `a` equals (folded) some element of `b`.
bool listsIntersect(std::string_view a, std::string_view b);

// True when every element of `subset` equals (folded) an element of `set`; false for an
// empty `subset`.
bool listIsSubset(std::string_view subset, std::string_view set);

// True when `c` must be escaped in an attribute value (and in a tag).
bool isReservedChar(unsigned char c);
// True when `c` may not appear in a tag at all, escaped or not ('*', CR, LF, HTAB).
bool isBadTagChar(unsigned char c);

// Replaces reserved characters by '\XX'. With `isTag`, empty when `in` holds a bad tag
// character.
std::optional<std::string> escapeText(std::string_view in, bool isTag);

// Replaces every '\XX' by its byte. Empty on a malformed escape (not two hex digits) or, with
// `isTag`, when the result holds a bad tag character.
std::optional<std::string> unescapeText(std::string_view in, bool isTag);

// True when every '\' in `s` starts a two-hex-digit escape and no other reserved character
// appears raw.
bool isWellEscaped(std::string_view s);

// True for well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::string_view s);

// True for a language tag: 1*8ALPHA *("-" 1*8ALPHANUM).
bool isValidLanguageTag(std::string_view tag);

// The primary part of a language tag ("en" of "en-GB"), lower-cased.
std::string primaryLanguage(std::string_view tag);

// Comparison form of a service type: folded, without a leading "service:".
std::string normalizeServiceType(std::string_view type);

// True when a request for `requested` covers a registration of type `registered`: equal after
// normalizing, or `requested` is the abstract type of `registered` ("service:printer" covers
// "service:printer:lpr").
bool serviceTypeMatches(std::string_view requested, std::string_view registered);

// The naming authority of a service type ("x" of "service:tolm.x"), "" for IANA types.
std::string namingAuthorityOf(std::string_view type);

// True when `pattern` (a tag-list element with '*' wildcards) matches `tag`, both folded.
bool wildcardMatch(std::string_view pattern, std::string_view tag);

}  // namespace vslp

#endif  // SLP_TEXT_H_
