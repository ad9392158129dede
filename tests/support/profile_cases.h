#pragma once

// The settings file's format, case by case: files, the names asked for or written, and
// what comes back or what the file holds afterwards, as Windows' profile functions give
// them. Our reader and writer are held to these (unit tests) and compared with kernel32's
// functions under Wine (wine tests).

#include <string_view>

using namespace std::string_view_literals;

namespace profile_cases {
struct Read {
    std::string_view file;
    const char *section, *key;
    const char* want;  // UTF-8
};
inline constexpr Read kReads[] = {
    // Lines end at CR LF, LF or CR; LF CR is two breaks; a lone CR splits a line.
    {"[S]\r\na=1\r\nb=2\r\n", "S", "b", "2"},
    {"[S]\na=1\nb=2\n", "S", "b", "2"},
    {"[S]\ra=1\rb=2", "S", "b", "2"},
    {"[S]\n\ra=1\r\n\rb=2\n", "S", "a", "1"},
    {"[S]\n\ra=1\r\n\rb=2\n", "S", "b", "2"},
    {"[S]\r\na=1\rb=2\r\n", "S", "a", "1"},
    // Space, tab and vertical tab are trimmed, around lines, keys, values, in brackets and
    // in the names asked for; a form feed is not a blank, blanks inside names stay.
    {"  [S]  \r\n \t key \v=\t value x \t\v\r\n", "S", "key", "value x"},
    {"[ section1 ]\r\nk=v\r\n", "section1", "k", "v"},
    {"[\t\vsection1\t ]\r\nk=v\r\n", "section1", "k", "v"},
    {"[S]\r\n\fk=v\r\n", "S", "k", ""},
    {"[my section]\r\nmy key = my value\r\n", "my section", "my key", "my value"},
    {"[my section]\r\nmy key = my value\r\n", "mysection", "mykey", ""},
    {"[S]\r\nk=v\r\n", " S\t", " k ", "v"},
    // Headers: the name ends at the first ']', or runs to the end of the line; a '[' not
    // first on its line makes none; a header ends the section before it.
    {"[S] trailing junk=1\r\nk=v\r\n", "S", "k", "v"},
    {"[S]x]\r\nk=v\r\n", "S", "k", "v"},
    {"[S]x]\r\nk=v\r\n", "S]x", "k", ""},
    {"[S  \r\nk=v\r\n", "S", "k", "v"},
    {"[ Long name \t\r\nk=v\r\n", "Long name", "k", "v"},
    {"x[S]\r\nk=v\r\n", "S", "k", ""},
    {"[S]\r\n[T]\r\nk=v\r\n", "S", "k", ""},
    {"[S]\r\n[T\r\nk=v\r\n", "S", "k", ""},
    // Names match case-insensitively letter by letter (Ö is ö, ß is not ss), values keep
    // their case; text outside ASCII is in the system's code page.
    {"[TarnWick]\r\ndefaultURL=Http://Example.COM/\r\n", "tarnwick", "DEFAULTurl", "Http://Example.COM/"},
    {"[Größe]\r\nSCHLÜSSEL=Wert\r\n", "grösse", "schlüssel", ""},
    {"[GRÖSSE]\r\nSCHLÜSSEL=Wert\r\n", "grösse", "schlüssel", "Wert"},
    {"[Größe]\r\nSchlüssel=\"Wärme\" \r\n", "Größe", "schlüssel", "Wärme"},
    // An entry splits at its first '='; no '=' is a key without value; an empty key is
    // nobody's.
    {"[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
    {"[S]\r\nk = = v\r\n", "S", "k", "= v"},
    {"[S]\r\na=b=c\r\n", "S", "a=b", ""},
    {"[S]\r\n=v\r\n", "S", "v", ""},
    // Comments are never found and do not end a section; '#' and a later ';' are text.
    {"[S]\r\n \t;k=v\r\n", "S", ";k", ""},
    {"[S]\r\n;k=v\r\nk=w\r\n", "S", "k", "w"},
    {"[S]\r\n#k=v\r\n", "S", "#k", "v"},
    {"[S]\r\n; note\r\nk=v\r\n", "S", "k", "v"},
    {"[S]\r\nk=v ; not a comment # nor this\r\n", "S", "k", "v ; not a comment # nor this"},
    {";[S]\r\nk=v\r\n", "S", "k", ""},
    {"[;S]\r\nk=v\r\n", ";S", "k", "v"},
    // Text before the first header is no section's; the first matching section and the
    // first matching key win (a bare or empty one included).
    {"k=v\r\n[S]\r\nj=w\r\n", "S", "k", ""},
    {"k=v\r\n[]\r\nk=w\r\n", "S", "k", ""},
    {"[S]\r\na=1\r\nk=first\r\nk=second\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\nk=third\r\n", "S", "k", "first"},
    {"[S]\r\na=1\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\n", "S", "b", ""},
    {"[S]\r\na=1\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\n", "T", "t", "1"},
    {"[S]\r\nk\r\nk=v\r\n", "S", "k", ""},
    {"[S]\r\nk=\r\nk=v\r\n", "S", "k", ""},
    // One pair of matching quotes goes, after trimming; mismatched or lone quotes stay.
    {"[S]\r\nk=\" a b \"\r\n", "S", "k", " a b "},
    {"[S]\r\nk='x'\r\n", "S", "k", "x"},
    {"[S]\r\nk =  \"v\"  \r\n", "S", "k", "v"},
    {"[S]\r\nk=\"\"\r\n", "S", "k", ""},
    {"[S]\r\nk=\"\"x\"\"\r\n", "S", "k", "\"x\""},
    {"[S]\r\nk=\"a\"b\"\r\n", "S", "k", "a\"b"},
    {"[S]\r\nk=\"x'\r\n", "S", "k", "\"x'"},
    {"[S]\r\nk=\"x\r\n", "S", "k", "\"x"},
    {"[S]\r\nk=x\"\r\n", "S", "k", "x\""},
    {"[S]\r\nk=\"\r\n", "S", "k", "\""},
    {"[S]\r\nk='\r\n", "S", "k", "'"},
    {"[S]\r\nk=\"x\" y\r\n", "S", "k", "\"x\" y"},
    // Missing file, section or key, blank value, empty names: the empty string.
    {"", "S", "k", ""},
    {"[T]\r\nk=v\r\n", "S", "k", ""},
    {"[S]\r\nk= \t \r\n", "S", "k", ""},
    {"[S]\r\nk=v\r\n", "  ", "k", ""},
    {"[S]\r\nk=v\r\n", "S", "", ""},
    // A value is a C string; a NUL ends neither a line nor the file; a name holding one is
    // another name.
    {"[S]\r\nk=ab\0cd\r\n"sv, "S", "k", "ab"},
    {"[S]\r\nk=\"ab\0cd\"\r\n"sv, "S", "k", "ab"},
    {"[S]\r\nx=\0\0\0\r\nk=v\r\n"sv, "S", "k", "v"},
    {"\0\0[S]\r\nk=v\r\n[\0T]\r\nk=w\r\n"sv, "S", "k", ""},
    {"\0\0\r\n[S]\r\nk=v\r\n"sv, "S", "k", "v"},
    {"[S]\r\nk\0=v\r\n"sv, "S", "k", ""},
    // The UTF-8 mark is not understood: it sticks to line 1, losing a header there.
    {"\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", ""},
    {"\xEF\xBB\xBF; comment\r\n[S]\r\nk=v\r\n", "S", "k", "v"},
};
}  // namespace profile_cases

namespace profile_cases {
struct Write {
    std::string_view file;
    const char *section, *key, *value;
    std::string_view want;  // the file's bytes afterwards
};
inline constexpr Write kWrites[] = {
    // New or empty file; names go without their blanks, the value exactly as given.
    {"", "Tarnwick", "DefaultURL", "http://example.com/", "[Tarnwick]\r\nDefaultURL=http://example.com/\r\n"},
    {"", " S ", "\tk ", "  a b  ", "[S]\r\nk=  a b  \r\n"},
    {"", "S", "k", "\"q\"", "[S]\r\nk=\"q\"\r\n"},
    {"", "S", "k", "a=b;c#d", "[S]\r\nk=a=b;c#d\r\n"},
    {"", "S", "k", "", "[S]\r\nk=\r\n"},
    // An existing key's line is replaced in place: the file's spelling and the line's own
    // break stay, its blanks and quotes go; a bare key is the key's line; only the first
    // key of the first matching section is touched.
    {"[tarnWICK]\r\ndefaultUrl=old\r\nother=1\r\n", "Tarnwick", "DefaultURL", "new",
     "[tarnWICK]\r\ndefaultUrl=new\r\nother=1\r\n"},
    {"[S]\n  \tKey \t= old value  \nj=2\n", "S", "key", "\tv\t", "[S]\nKey=\tv\t\nj=2\n"},
    {"[S]\rk=1\rj=2", "S", "K", "9", "[S]\rk=9\rj=2"},
    {"[S]\r\nk=1", "S", "k", "22", "[S]\r\nk=22"},
    {"[S]\r\nk\r\n", "S", "k", "v", "[S]\r\nk=v\r\n"},
    {"[S]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\n", "S", "k", "x", "[S]\r\nk=x\r\nk=2\r\n[s]\r\nk=3\r\n"},
    {"[S]\r\nk=\"old\"\r\nj=1\r\n", "S", "k", "", "[S]\r\nk=\r\nj=1\r\n"},
    // A new key goes after the section's last non-blank line (comments and odd lines
    // count), with CR LF whatever the file uses; only the first matching section grows;
    // a comment is never the key's line.
    {"[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n", "A", "n", "v", "[A]\r\na=1\r\nn=v\r\n\r\n[B]\r\nb=1\r\n"},
    {"[A]\r\n\r\n\r\n[B]\r\n", "a", "n", "v", "[A]\r\nn=v\r\n\r\n\r\n[B]\r\n"},
    {"[A]", "A", "n", "v", "[A]\r\nn=v\r\n"},
    {"[A]\r\na=1", "A", "n", "v", "[A]\r\na=1\r\nn=v\r\n"},
    {"[A]\r\na=1\r\n; about B\r\n\r\n[B]\r\n", "A", "n", "v", "[A]\r\na=1\r\n; about B\r\nn=v\r\n\r\n[B]\r\n"},
    {"[A]\r\na=1\r\nodd line\r\n  \r\n", "A", "n", "v", "[A]\r\na=1\r\nodd line\r\nn=v\r\n  \r\n"},
    {"[A]\na=1\n\n[B]\n", "A", "n", "v", "[A]\na=1\nn=v\r\n\n[B]\n"},
    {"[A]\r\na=1\r\n[a]\r\nn=old\r\n", "A", "n", "v", "[A]\r\na=1\r\nn=v\r\n[a]\r\nn=old\r\n"},
    {"[A]\r\n;k=1\r\n", "A", "k", "2", "[A]\r\n;k=1\r\nk=2\r\n"},
    // A new section is appended with no blank line before it, after CR LF when the file
    // does not end with a break; entries before any header and a header behind a UTF-8
    // mark are no section.
    {"[A]\r\na=1\r\n", "N", "k", "v", "[A]\r\na=1\r\n[N]\r\nk=v\r\n"},
    {"[A]\r\na=1", "N", "k", "v", "[A]\r\na=1\r\n[N]\r\nk=v\r\n"},
    {"[A]\na=1\n", "N", "k", "v", "[A]\na=1\n[N]\r\nk=v\r\n"},
    {"[A]\ra=1\r", "N", "k", "v", "[A]\ra=1\r[N]\r\nk=v\r\n"},
    {"[A]\r\na=1\r\n\r\n\r\n", "N", "k", "v", "[A]\r\na=1\r\n\r\n\r\n[N]\r\nk=v\r\n"},
    {" ", "N", "k", "v", " \r\n[N]\r\nk=v\r\n"},
    {"k=1\r\n", "S", "k", "2", "k=1\r\n[S]\r\nk=2\r\n"},
    {"\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "2", "\xEF\xBB\xBF[S]\r\nk=1\r\n[S]\r\nk=2\r\n"},
    // Empty names write nothing.
    {"[S]\r\nk=v\r\n", "", "k", "x", "[S]\r\nk=v\r\n"},
    {"[S]\r\nk=v\r\n", "S", " ", "x", "[S]\r\nk=v\r\n"},
    {"", "S", "", "x", ""},
};
}  // namespace profile_cases
