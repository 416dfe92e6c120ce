// Which Debian package owns a file, as a package URL for an SBOM: the MinGW
// runtime DLLs a cross build ships come from the toolchain's packages.
// Asked of dpkg's own database through dpkg-query; nothing on Windows or
// where dpkg is missing.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace debian {

// "pkg:deb/debian/<name>@<version>?arch=<arch>&distro=debian-12", the
// version percent-encoded ("+" as "%2B", an epoch's ":" as "%3A"); the
// namespace is the system's ID ("debian", "ubuntu"), `distro` left out when
// empty.
std::string packageUrl(const std::string& vendor, const std::string& name, const std::string& version,
                       const std::string& arch, const std::string& distro);

// The owners named in dpkg-query -S output: by path, the first package of
// each line (with its ":arch" when dpkg gives one); diversion lines skipped.
std::unordered_map<std::string, std::string> parseOwners(const std::string& output);

// By path (as given), the package URL of the package that owns each file
// that one does. Two runs of dpkg-query for all the paths together.
std::unordered_map<std::string, std::string> packageUrls(const std::vector<std::string>& paths);

}  // namespace debian
