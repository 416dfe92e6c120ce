// Text helpers shared by both backends and the layers above: conversions
// between the encodings found in PE files and the UTF-8 used inside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows code page 1252 (the "ANSI" text of import tables) to UTF-8.
std::string cp1252ToUtf8(std::string_view bytes);

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t count);
std::u16string utf8ToUtf16(std::string_view text);

// Number of characters (code points) of a UTF-8 text; a byte that does not
// start a valid sequence counts as one character.
std::size_t utf8Length(std::string_view text);

// The text left-aligned and padded with blanks to at least `width`
// characters, never cut (printf's %-Ns counting characters, not bytes).
std::string padRight(std::string_view text, std::size_t width);

// Decodes one UTF-8 sequence at `pos`; returns its length in bytes (0 when
// the bytes there are not a valid sequence) and the code point in `cp`.
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& cp);
void appendUtf8(std::string& out, char32_t cp);

// The text with invalid UTF-8 sequences replaced by U+FFFD (for JSON output).
std::string validUtf8(std::string_view text);

// ASCII letters lowered, every other byte kept: for names Windows compares
// that way (API sets, assembly names and tokens, registry keys).
std::string asciiLower(std::string_view text);
// Equal once ASCII letters are lowered.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The non-empty items of a list separated by `separator` ("a::b:" gives a, b).
std::vector<std::string> splitList(std::string_view list, char separator);

// Lower-casing of the characters that every backend lowers the same way
// (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic). Used as the fallback
// when the system offers nothing better.
char32_t simpleLower(char32_t cp);

// Names as the file system tells them apart: each character upper-cased by
// Unicode's simple mapping, as NTFS's upcase table does, whatever the
// locale (so "ß" stays apart from "SS", and the Kelvin sign from "K").
// Bytes that are not UTF-8 are kept.
char32_t simpleUpper(char32_t cp);
std::string foldName(std::string_view name);
// Equal names under foldName.
bool sameName(std::string_view a, std::string_view b);

}  // namespace platform
