// How the grid's "Version" column sorts: by the numbers a version begins
// with where it has them ("5.01" before "10.0"), by its text otherwise.
#pragma once

#include <string>

// A key compared byte by byte: the versions that begin with a number first,
// by their numbers (one shorter than another comes first), then by what
// follows them ignoring case; then every other text ignoring case.
std::string CleVersion(const std::string& Texte);
