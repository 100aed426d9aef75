// Texts that cross into LDAP and back, as pure functions: filter values (RFC 4515), RDN values
// and DNs (RFC 4514), and the text of reply documents. Nothing here talks to a directory; the
// command engine builds every filter and DN it sends through these, so that a value typed by a
// user or sent by a workstation can never change the shape of a filter or a name.
#ifndef GATEWAY_LDAP_TEXT_H_
#define GATEWAY_LDAP_TEXT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nvo {

// `value` escaped to stand as an assertion value in a search filter: '*', '(', ')', '\' and
// NUL become \2a, \28, \29, \5c and \00; every other byte is kept.
std::string escapeFilterValue(std::string_view value);

// A substring assertion value for a wildcard match in which '*' is the only wildcard: the
// pieces between stars are escaped as above, runs of stars count as one. "*" alone is the
// presence form. Never empty for a non-empty pattern.
std::string wildcardFilterValue(std::string_view pattern);

// `value` escaped to stand as an attribute value of an RDN: ',', '+', '"', '\', '<', '>', ';',
// '=' and NUL are escaped, and so are a leading '#' or blank and a trailing blank.
std::string escapeRdnValue(std::string_view value);

// One DN split into its RDNs, first (leftmost) first, each still in its escaped form. Empty
// for the empty DN; nullopt when `dn` is not a well-formed DN (an RDN without '=', a dangling
// escape, an empty attribute type or value position that RFC 4514 does not allow).
std::optional<std::vector<std::string>> splitDn(std::string_view dn);

// The attribute type of an escaped RDN ("cn" for "cn=a\,b"), lower case.
std::string rdnType(std::string_view rdn);
// The unescaped value of the first attribute of an escaped RDN ("a,b" for "cn=a\,b").
std::string rdnValue(std::string_view rdn);

// The parent of a DN (everything after its first RDN); empty for a one-RDN DN or a bad DN.
std::string parentDn(std::string_view dn);
// The display name of an entry: the unescaped value of its DN's first RDN.
std::string displayNameOf(std::string_view dn);
// True when `dn` is `ancestor` or lies below it (RDN by RDN, case-insensitively).
bool dnIsWithin(std::string_view dn, std::string_view ancestor);
// The lower-case form of an ASCII text (LDAP names compare case-insensitively).
std::string lowerAscii(std::string_view text);

// True for an LDAP attribute description we accept in commands: a name (a letter, then
// letters, digits and '-') of at most 64 characters. Options and numeric OIDs are refused.
bool isAttributeName(std::string_view name);
// True for the string form of an entryUUID: 8-4-4-4-12 hexadecimal digits.
bool isUuid(std::string_view text);

// `text` made safe as XML element content: & < > " ' become entity references, a carriage
// return a character reference (so that it reads back), and whatever XML 1.0 cannot carry
// (control characters other than tab, line feed and carriage return, U+FFFE, U+FFFF, bytes
// that are not UTF-8) becomes U+FFFD. `inAttribute`: for an attribute value, where tab and
// line feed are written as character references too.
std::string xmlText(std::string_view text, bool inAttribute = false);
// The same, appended to `out` (a text of printable ASCII without markup characters, the common
// case of directory values, is copied as it is).
void appendXmlText(std::string& out, std::string_view text, bool inAttribute = false);

}  // namespace nvo

#endif  // GATEWAY_LDAP_TEXT_H_
