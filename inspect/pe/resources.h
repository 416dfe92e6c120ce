// The manifest resource (RT_MANIFEST) of a PE image, which binds a
// module's imports to side-by-side assemblies; over one parse of the
// image, bounded. (The version resource is platform/peversion's: it stands
// in for GetFileVersionInfo.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/peimage.h"

namespace pe {

// What a manifest may weigh; a larger one is not read.
constexpr std::size_t kMaxManifestSize = 1u << 20;

// RT_MANIFEST resource IDs: a program's own manifest, and the one the loader
// reads for a DLL's imports.
constexpr std::uint32_t kProgramManifestId = 1;
constexpr std::uint32_t kDllManifestId = 2;

enum class EmbeddedManifest { None, Found, TooLarge };
// The bytes of RT_MANIFEST resource `id` (any language, the loader's choice
// when there are several); at most kMaxManifestSize.
EmbeddedManifest embeddedManifest(const platform::PeImage& image, std::uint32_t id, std::vector<std::uint8_t>& out);

// The manifest resource the loader reads for a module's imports (ID 2 for a
// DLL, else 1), taken while the module's file is open for its other tables.
struct ModuleResource {
    EmbeddedManifest state = EmbeddedManifest::None;
    std::vector<std::uint8_t> bytes;
};
ModuleResource moduleResource(const platform::PeImage& image);

}  // namespace pe
