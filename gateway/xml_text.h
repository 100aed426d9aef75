// Text helpers of the documents layer (inside libnvo only): UTF-8 <-> UTF-16 for Xerces-C,
// escaping for XML, and the conversion of locale text to UTF-8. All pure functions.
#ifndef GATEWAY_XML_TEXT_H_
#define GATEWAY_XML_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace nvo::xml {

// The length (1-4) of the well-formed UTF-8 sequence at the start of `bytes`, or 0 when it does
// not start with one (overlong forms, surrogates and values above U+10FFFF are not well formed).
std::size_t utf8SequenceLength(std::string_view bytes);
// The same, with the character's code in `code` when the length is not 0.
std::size_t utf8SequenceLength(std::string_view bytes, char32_t& code);

// Appends `code` (at most U+10FFFF, no surrogate) to `out` as UTF-16.
void appendUtf16(std::u16string& out, char32_t code);

// UTF-8 to UTF-16; each byte that is not part of a well-formed sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);
// UTF-16 (NUL-terminated, may be null) to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const char16_t* utf16);
std::string toUtf8(std::u16string_view utf16);

// The length of the front of `text` made of bytes that stand for themselves in XML text and
// attribute values alike: printable ASCII but & < > " '.
std::size_t plainPrefix(std::string_view text);

// Appends `text` with & < > " ' written as entity references (the five XML predefines).
void appendEscaped(std::string& out, std::string_view text);

// As appendEscaped, for the serializer, which must give back what a parser reads as the same
// text: CR always and TAB and LF inside attribute values become character references (a
// parser would normalise them), and characters XML 1.0 cannot carry at all (controls other
// than TAB, LF, CR; U+FFFE, U+FFFF) become U+FFFD, so the output is always well formed.
// `utf8` must be valid UTF-8 (as toUtf8 gives).
enum class EscapeContext { kText, kAttribute };
void appendEscapedForRoundTrip(std::string& out, std::string_view utf8, EscapeContext where);

// `length` bytes in the character set of the current locale (LC_CTYPE, as nl_langinfo(CODESET)
// names it) converted to UTF-8. Where the bytes are not valid in that set, a well-formed UTF-8
// sequence is kept and any other byte becomes U+FFFD; the result is always valid UTF-8. So in
// the "C" locale (ASCII) ASCII passes, UTF-8 typed into a terminal still passes, and a lone
// Latin-1 byte becomes U+FFFD.
std::string localeToUtf8(const char* chars, std::size_t length);

}  // namespace nvo::xml

#endif  // GATEWAY_XML_TEXT_H_
