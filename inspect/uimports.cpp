#include "inspect/uimports.h"

#include <cstring>
#include <new>

#include "inspect/fileversion.h"
#include "platform/platform.h"
#include "platform/text.h"

std::vector<std::string> PEFile::Found;
std::vector<std::string> PEFile::Errors;
bool PEFile::Recursive = false;
int PEFile::liveObjects_ = 0;
std::unordered_set<std::string> PEFile::foundKeys_;

namespace {

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPe = 0x00004550;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kDescriptorSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
// The longest name the search can ever find (MAX_PATH less its zero).
constexpr std::size_t kMaxDllName = 259;

const char* statusMessage(ImageImports::Outcome o) {
    switch (o) {
        case ImageImports::Outcome::NotOpenable: return "non ouvrable";
        case ImageImports::Outcome::NotMappable: return "non mappable";
        case ImageImports::Outcome::NotViewable: return "non visionnable";
        default: break;
    }
    return "";
}

// A DLL name as the report shows it: code page 1252 text, control
// characters (which no file name holds) shown as '?'.
std::string dllNameText(const std::uint8_t* p, std::size_t n) {
    std::string raw(reinterpret_cast<const char*>(p), n);
    for (char& c : raw)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return platform::cp1252ToUtf8(raw);
}

// The import walk over bounded reads of the file.
class Walker {
public:
    explicit Walker(const platform::FileReader& img, ImageImports& out) : img_(img), out_(out) {}

    void walk() {
        std::uint16_t magic = 0;
        std::uint32_t lfanew = 0;
        if (!img_.u16(0, magic) || magic != kMz || !img_.u32(0x3C, lfanew)) wrongFormat();
        const std::uint64_t nt = lfanew;
        std::uint32_t signature = 0;
        if (!img_.u32(nt, signature) || signature != kPe) wrongFormat();

        const std::uint64_t fileHeader = nt + 4;
        const std::uint64_t optionalHeader = nt + 24;
        std::uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
        if (!img_.u16(fileHeader, out_.machine) || !img_.u16(fileHeader + 2, sectionCount) ||
            !img_.u16(fileHeader + 16, optionalSize) || !img_.u16(optionalHeader, optionalMagic))
            wrongFormat();
        // PE32+ images keep their data directories 16 bytes further on.
        const std::uint64_t importDirectory = optionalHeader + (optionalMagic == kPe32PlusMagic ? 0x78 : 0x68);
        std::uint32_t importRva = 0, importSize = 0;
        if (!img_.u32(importDirectory, importRva) || !img_.u32(importDirectory + 4, importSize)) wrongFormat();
        if (importSize == 0) throw ENoImport();

        const std::uint64_t sectionTable = optionalHeader + optionalSize;
        if (!img_.has(sectionTable, kSectionHeaderSize * sectionCount)) wrongFormat();
        sections_.resize(sectionCount);
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t h = sectionTable + kSectionHeaderSize * i;
            std::uint32_t virtualSize = 0, virtualAddress = 0, rawPointer = 0;
            if (!img_.u32(h + 8, virtualSize) || !img_.u32(h + 12, virtualAddress) || !img_.u32(h + 20, rawPointer))
                wrongFormat();
            sections_[i] = {virtualAddress, static_cast<std::uint64_t>(virtualAddress) + virtualSize, rawPointer};
        }

        std::uint64_t cursor = 0;
        if (importRva == 0 || !rvaToOffset(importRva, cursor)) throw ENoImport();
        for (;; cursor += kDescriptorSize) {
            std::uint32_t nameRva = 0;
            if (!img_.has(cursor, kDescriptorSize) || !img_.u32(cursor + 12, nameRva)) wrongFormat();
            if (nameRva == 0) break;
            std::uint64_t at = 0;
            if (!rvaToOffset(nameRva, at)) {
                out_.names.push_back({});  // in no section: searched as an empty name, never found
                continue;
            }
            out_.names.push_back(readName(at));
        }
    }

private:
    struct Section {
        std::uint64_t start;  // VirtualAddress
        std::uint64_t end;    // VirtualAddress + VirtualSize
        std::uint64_t raw;    // PointerToRawData
    };

    [[noreturn]] void wrongFormat() const { throw EWrongFormat(std::string()); }

    // RvaToPointer over the file: the first section holding `rva` wins; a
    // position outside the file is a bad image.
    bool rvaToOffset(std::uint32_t rva, std::uint64_t& offset) const {
        for (const Section& s : sections_) {
            if (s.start <= rva && rva < s.end) {
                offset = rva - s.start + s.raw;
                if (offset >= img_.size()) wrongFormat();  // a section whose data lies past the file
                return true;
            }
        }
        return false;
    }

    // At most kMaxDllName bytes: a longer name is cut and never searched.
    DllName readName(std::uint64_t at) const {
        std::uint8_t buf[kMaxDllName + 1];
        const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, img_.size() - at));
        if (!img_.read(at, buf, avail)) wrongFormat();
        const void* zero = std::memchr(buf, 0, avail);
        if (zero) return {dllNameText(buf, static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buf)), true};
        if (avail < sizeof buf) wrongFormat();  // runs to the end of the file without its zero
        return {dllNameText(buf, kMaxDllName) + "…", false};
    }

    const platform::FileReader& img_;
    ImageImports& out_;
    std::vector<Section> sections_;
};

}  // namespace

ImageImports readImageImports(const std::string& path, bool withVersion) {
    ImageImports out;
    try {
        platform::FileReader file;
        switch (file.open(path)) {
            case platform::MapStatus::Ok: break;
            case platform::MapStatus::NotMappable: out.outcome = ImageImports::Outcome::NotMappable; return out;
            case platform::MapStatus::NotViewable: out.outcome = ImageImports::Outcome::NotViewable; return out;
            default: out.outcome = ImageImports::Outcome::NotOpenable; return out;
        }
        try {
            Walker(file, out).walk();
            out.outcome = ImageImports::Outcome::Read;
        } catch (const EWrongFormat&) {
            out.outcome = ImageImports::Outcome::WrongFormat;
        } catch (const ENoImport&) {
            out.outcome = ImageImports::Outcome::NoImport;
        }
        // A read that failed, rather than ending at the end of the file.
        if (file.failed() && out.outcome == ImageImports::Outcome::WrongFormat) {
            out.outcome = ImageImports::Outcome::NotViewable;
            out.names.clear();
        }
        std::vector<std::uint8_t> block;
        if (withVersion && platform::versionBlockOf(path, file, block)) {
            out.versionRead = true;
            out.version = FileVersionFromBlock(block);
        }
    } catch (const std::bad_alloc&) {
        out = ImageImports{};
        out.outcome = ImageImports::Outcome::NotViewable;
    }
    return out;
}

// ---------------------------------------------------------------------------

PEFile::PEFile(const std::string& name, RunCache* run) : Name(name), run_(run) {
    // The search is handed the importer's folder, so the process's current
    // directory is never switched: the same result without two chdir calls
    // per image.
    enter();
    try {
        if (!run_) {
            ownRun_ = std::make_unique<RunCache>();
            run_ = ownRun_.get();
        }
        read();
        walkClosure();
    } catch (const std::exception&) {
        // Out of memory (or the like) half-way: the file's own line; what was
        // found before stays, as for a bad image.
        Done = false;
        try {
            addLine(Name + " non visionnable", Problem::NotReadable);
        } catch (...) {
        }
    }
}

PEFile::PEFile(const std::string& name, RunCache* run, PEFile* top) : Name(name), run_(run), top_(top) {
    enter();
    read();
}

PEFile::~PEFile() {
    if (--liveObjects_ == 0) {
        Found.clear();
        Errors.clear();
        foundKeys_.clear();
        platform::endSearchScope();
    }
}

void PEFile::enter() {
    if (liveObjects_++ == 0) {
        Found.clear();
        Errors.clear();
        foundKeys_.clear();
        platform::beginSearchScope();
    }
}

void PEFile::addLine(std::string line, Problem kind) {
    Errors.push_back(std::move(line));
    top_->Problems.push_back(kind);
}

void PEFile::AddError(const std::string& message) { addLine(Name + " " + message, Problem::NotReadable); }

void PEFile::read() {
    image_ = run_->imports(Name);
    Machine = image_->machine;
    switch (image_->outcome) {
        case ImageImports::Outcome::Read:
        case ImageImports::Outcome::NoImport: Done = true; break;
        case ImageImports::Outcome::WrongFormat: wrongFormat_ = true; break;
        default: AddError(statusMessage(image_->outcome)); break;
    }
}

void PEFile::finish() {
    if (wrongFormat_) {
        Done = false;
        addLine(Name + " n'est pas un exécutable Win32", Problem::NotPe);
    }
}

void PEFile::walkClosure() {
    // The closure is walked with an explicit stack rather than nested
    // constructors, so a long chain of DLLs never exhausts the call stack.
    std::vector<std::unique_ptr<PEFile>> stack;
    PEFile* current = this;
    for (;;) {
        bool descended = false;
        while (current->next_ < current->image_->names.size()) {
            const DllName& dll = current->image_->names[current->next_++];
            if (!current->resolved_) current->resolved_ = run_->resolveAll(current->Name, current->Machine, *current->image_);
            const RunCache::Resolution& r = (*current->resolved_)[current->next_ - 1];
            if (!r.found) {
                std::string line = dll.text + " invisible pour " + current->Name;
                if (!r.otherPath.empty())
                    line += " (seule existe " + r.otherPath + ", " + platform::machineName(r.otherMachine) + ")";
                addLine(std::move(line), r.otherPath.empty() ? Problem::MissingDll : Problem::WrongMachine);
                continue;
            }
            if (!foundKeys_.insert(r.key).second) continue;
            Found.push_back(r.path);
            if (Recursive) {
                stack.push_back(std::unique_ptr<PEFile>(new PEFile(r.path, run_, this)));
                current = stack.back().get();
                descended = true;
                break;
            }
        }
        if (descended) continue;
        current->finish();
        if (stack.empty()) break;
        stack.pop_back();
        current = stack.empty() ? this : stack.back().get();
    }
}
