#include "inspect/loader/manifest.h"

#include <pugixml.hpp>

#include <new>

#include "platform/peimage.h"
#include "platform/platform.h"

namespace sxs {

namespace {


// The part of a qualified name after its prefix: "asmv1:assembly" -> "assembly".
std::string_view localName(const char* qualified) {
    const std::string_view s(qualified);
    const std::size_t colon = s.rfind(':');
    return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

bool is(const pugi::xml_node& node, std::string_view name) {
    return node.type() == pugi::node_element && localName(node.name()) == name;
}

std::string attribute(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_attribute& a : node.attributes())
        if (localName(a.name()) == name) return a.value();
    return std::string();
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_node& c : node.children())
        if (is(c, name)) return c;
    return pugi::xml_node();
}

// Walks the tree without recursion: a hostile file cannot exhaust the stack.
bool tooDeep(const pugi::xml_node& top) {
    pugi::xml_node n = top.first_child();
    unsigned depth = 1;
    while (n) {
        if (depth > kMaxManifestDepth) return true;
        if (const pugi::xml_node c = n.first_child()) {
            n = c;
            ++depth;
            continue;
        }
        while (!n.next_sibling()) {
            n = n.parent();
            --depth;
            if (!n || n == top) return false;
        }
        n = n.next_sibling();
    }
    return false;
}

AssemblyIdentity readIdentity(const pugi::xml_node& node) {
    AssemblyIdentity id;
    id.name = attribute(node, "name");
    id.versionText = attribute(node, "version");
    id.versionValid = parseAssemblyVersion(id.versionText, id.version);
    id.processorArchitecture = attribute(node, "processorArchitecture");
    id.publicKeyToken = attribute(node, "publicKeyToken");
    id.language = attribute(node, "language");
    id.type = attribute(node, "type");
    return id;
}

bool bareFileName(const std::string& name) {
    return !name.empty() && name.size() <= 259 && name.find_first_of("/\\:") == std::string::npos && name != "." &&
           name != ".." && name.find('\0') == std::string::npos;
}

}  // namespace

bool parseAssemblyVersion(std::string_view text, std::array<std::uint16_t, 4>& out) {
    out = {};
    if (text.empty()) return false;
    std::size_t part = 0;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
            if (value >= 0x10000) return false;
            out[part] = static_cast<std::uint16_t>(value);
        } else if (c == '.') {
            if (++part >= 4) return false;
            value = 0;
        } else {
            return false;
        }
    }
    return true;
}

bool AssemblyIdentity::nameValid() const {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    return true;
}

std::string AssemblyIdentity::label() const { return versionText.empty() ? name : name + " " + versionText; }

Manifest parseManifest(const void* data, std::size_t size) {
    Manifest m;
    if (size > kMaxManifestSize) {
        m.status = ManifestStatus::TooLarge;
        return m;
    }
    if (size == 0) return m;
    try {
        pugi::xml_document doc;
        // No DOCTYPE entities are ever expanded: pugixml knows only the five
        // predefined ones and character references.
        const pugi::xml_parse_result parsed = doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto);
        if (!parsed) return m;
        if (tooDeep(doc)) {
            m.status = ManifestStatus::TooDeep;
            return m;
        }
        const pugi::xml_node root = doc.document_element();
        if (!is(root, "assembly")) {
            m.status = ManifestStatus::NotAssembly;
            return m;
        }
        m.status = ManifestStatus::Ok;
        if (const pugi::xml_node own = child(root, "assemblyIdentity")) m.identity = readIdentity(own);
        for (const pugi::xml_node& dependency : root.children()) {
            if (is(dependency, "file")) {
                std::string name = attribute(dependency, "name");
                if (bareFileName(name) && m.files.size() < kMaxManifestEntries) m.files.push_back(std::move(name));
                continue;
            }
            if (!is(dependency, "dependency")) continue;
            const bool optional = equalsIgnoringCase(attribute(dependency, "optional"), "yes");
            for (const pugi::xml_node& dependent : dependency.children()) {
                if (!is(dependent, "dependentAssembly")) continue;
                const pugi::xml_node identity = child(dependent, "assemblyIdentity");
                if (!identity || m.dependencies.size() >= kMaxManifestEntries) continue;
                DependentAssembly d;
                d.identity = readIdentity(identity);
                if (d.identity.name.empty()) continue;
                d.optional = optional;
                d.delayed = equalsIgnoringCase(attribute(dependent, "allowDelayedBinding"), "true");
                m.dependencies.push_back(std::move(d));
            }
        }
    } catch (const std::bad_alloc&) {
        m = Manifest();
    }
    return m;
}

bool compressedManifest(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || data[0] != 'D' || data[1] != 'C') return false;
    return data[2] == 'M' || data[2] == 'N' || data[2] == 'S' || data[2] == 'D';
}

bool readManifestFile(const std::string& path, Manifest& out) {
    out = Manifest();
    platform::FileReader file;
    const platform::MapStatus status = file.open(path);
    if (status == platform::MapStatus::NotMappable) return true;  // empty: no XML
    if (status != platform::MapStatus::Ok) return false;
    if (file.size() > kMaxManifestSize) {
        out.status = ManifestStatus::TooLarge;
        return true;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
    if (!file.read(0, bytes.data(), bytes.size())) return true;  // shrank meanwhile: unreadable as XML
    if (compressedManifest(bytes.data(), bytes.size())) {
        out.status = ManifestStatus::Compressed;
        return true;
    }
    out = parseManifest(bytes.data(), bytes.size());
    return true;
}

ModuleManifest manifestOf(const std::string& path, bool isDll, const FileLookup& lookup,
                          const pe::ModuleResource* resource) {
    ModuleManifest result;
    pe::ModuleResource opened;
    if (!resource) {
        platform::FileReader file;
        if (file.open(path) == platform::MapStatus::Ok)
            opened.state = pe::embeddedManifest(platform::PeImage(file), isDll ? pe::kDllManifestId : pe::kProgramManifestId,
                                                opened.bytes);
        resource = &opened;
    }
    switch (resource->state) {
        case pe::EmbeddedManifest::Found:
            result.source = ModuleManifest::Source::Embedded;
            result.path = path;
            result.manifest = parseManifest(resource->bytes.data(), resource->bytes.size());
            return result;
        case pe::EmbeddedManifest::TooLarge:
            result.source = ModuleManifest::Source::Embedded;
            result.path = path;
            result.manifest.status = ManifestStatus::TooLarge;
            return result;
        case pe::EmbeddedManifest::None: break;
    }
    const std::string folder = platform::directoryPart(path);
    const std::string name = platform::fileNamePart(path) + ".manifest";
    std::string beside = platform::joinPath(folder, name);
    if (lookup && !lookup(folder, name, beside)) return result;
    if (readManifestFile(beside, result.manifest)) {
        result.source = ModuleManifest::Source::File;
        result.path = beside;
    }
    return result;
}

}  // namespace sxs
