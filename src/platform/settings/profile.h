#pragma once

// The settings file's format: a Windows profile (INI) file, read and written with the
// results of GetPrivateProfileStringA / WritePrivateProfileStringA.
//
// Reading
//   - Lines end at CR LF, LF or CR. Space, tab and vertical tab around a line, a key, a
//     value and inside section brackets are trimmed.
//   - A line whose first non-blank character is '[' is a section header; the name ends at
//     the first ']' (the rest of the line is ignored) or, without ']', at the end of the
//     line. A line whose first non-blank character is ';' is a comment and is never found.
//     Every other line is an entry: key before the first '=', value after it; a line
//     without '=' is a key with an empty value. '#' is an ordinary character.
//   - Names match case-insensitively; only the first matching section is searched, and
//     within it the first matching key wins. Entries before the first header belong to
//     no section.
//   - A value of at least 2 characters that starts and ends with the same quote (" or ')
//     loses exactly that pair of quotes.
//   - Encoding: a file starting with FF FE is UTF-16LE throughout; any other file is in
//     the local 8-bit encoding (a UTF-8 byte-order mark is not understood: it stays part
//     of the first line).
//   - The value comes back the way the A function's buffer holds it: as a C string (cut
//     at its first NUL character) of at most bufferSize - 1 bytes in the local 8-bit
//     encoding, never splitting a character.
//
// Writing
//   - An existing key's line (first matching section, first matching key) is replaced in
//     place by the file's own spelling of the key, '=', the value; its line end is kept.
//   - A new key goes on a new line after the last non-blank line of the section (entries,
//     comments and odd lines alike); blank lines before the next section stay after it.
//   - A new section is appended at the end of the file ("[Section]" CR LF "key=value"
//     CR LF), preceded by CR LF when the file does not end with a line break.
//   - The value is written as given (no quotes, no escaping), up to its first NUL. Every
//     other byte of the file is kept. New lines end with CR LF.
//   - A UTF-16LE file stays UTF-16LE: the new text is written in UTF-16LE; any other file
//     gets the new text in the local 8-bit encoding. A new file has no byte-order mark.
//   - Section and key names are used without their surrounding blanks; an empty section
//     or key name (after that) reads as the empty string and writes nothing.

#include <QByteArray>
#include <QString>

namespace Profile {

// Files larger than this are read only up to this size: a settings file is a few
// hundred bytes, and a bigger one is not worth the memory. writeFile() refuses to
// rewrite such a file rather than cut it short.
inline constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// The value of `key` in `section` of a file holding `fileBytes`, or the empty string.
QString getString(const QByteArray& fileBytes, const QString& section, const QString& key,
                  int bufferSize = 255);

// The bytes of the file after storing `value` under `key` in `section`. Returns
// `fileBytes` unchanged when section or key is empty.
QByteArray putString(const QByteArray& fileBytes, const QString& section, const QString& key,
                     const QString& value);

// Reads the value from the file at `path`. A missing, unreadable or non-regular file
// gives the empty string. Reads at most kMaxFileBytes bytes.
QString readFile(const QString& path, const QString& section, const QString& key);

// Stores the value in the file at `path`, creating the file when it is missing (but never
// its folder). The file is replaced atomically, keeping its permissions; on any failure
// the existing file is left exactly as it was and false is returned.
bool writeFile(const QString& path, const QString& section, const QString& key,
               const QString& value);

}  // namespace Profile
