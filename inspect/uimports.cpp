#include "inspect/uimports.h"

#include "platform/bytes.h"
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

const char* statusMessage(platform::MapStatus s) {
    switch (s) {
        case platform::MapStatus::NotOpenable: return "non ouvrable";
        case platform::MapStatus::NotMappable: return "non mappable";
        case platform::MapStatus::NotViewable: return "non visionnable";
        case platform::MapStatus::Ok: break;
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

}  // namespace

PEFile::PEFile(const std::string& name) : Name(name) {
    enter();
    savedDirectory_ = platform::currentDirectory();
    read();
    walkClosure();
    platform::setCurrentDirectory(savedDirectory_);
}

PEFile::PEFile(const std::string& name, Nested) : Name(name) {
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

void PEFile::AddError(const std::string& message) { Errors.push_back(Name + " " + message); }

[[noreturn]] void PEFile::WrongFormat() const { throw EWrongFormat(Name + " n'est pas un exécutable Win32"); }

const std::uint8_t* PEFile::RvaToPointer(std::uint32_t rva) const {
    for (const SectionEntry& s : sections_) {
        if (s.start <= rva && rva < s.end) {
            const std::uint64_t offset = rva - s.start + s.raw;
            if (offset >= viewSize_) WrongFormat();  // a section whose data lies past the file
            return view_ + offset;
        }
    }
    return nullptr;
}

void PEFile::read() {
    directory_ = platform::directoryPart(Name);
    platform::setCurrentDirectory(directory_);
    platform::MappedFile file;
    const platform::MapStatus status = file.open(Name);
    if (status != platform::MapStatus::Ok) {
        AddError(statusMessage(status));
        return;
    }
    view_ = file.data();
    viewSize_ = file.size();
    try {
        walk();
        Done = true;
    } catch (const EWrongFormat& e) {
        wrongFormat_ = e.Message;
    } catch (const ENoImport&) {
        Done = true;
    }
    view_ = nullptr;
    viewSize_ = 0;
    sections_.clear();
}

void PEFile::walk() {
    const platform::Bytes img{view_, viewSize_};

    std::uint16_t magic = 0;
    std::uint32_t lfanew = 0;
    if (!img.u16(0, magic) || magic != kMz || !img.u32(0x3C, lfanew)) WrongFormat();
    const std::uint64_t nt = lfanew;
    std::uint32_t signature = 0;
    if (!img.u32(nt, signature) || signature != kPe) WrongFormat();

    const std::uint64_t fileHeader = nt + 4;
    const std::uint64_t optionalHeader = nt + 24;
    std::uint16_t optionalSize = 0, optionalMagic = 0;
    if (!img.u16(fileHeader + 2, sectionCount_) || !img.u16(fileHeader + 16, optionalSize) ||
        !img.u16(optionalHeader, optionalMagic))
        WrongFormat();
    // PE32+ images keep their data directories 16 bytes further on.
    const std::uint64_t importDirectory = optionalHeader + (optionalMagic == kPe32PlusMagic ? 0x78 : 0x68);
    std::uint32_t importRva = 0, importSize = 0;
    if (!img.u32(importDirectory, importRva) || !img.u32(importDirectory + 4, importSize)) WrongFormat();
    if (importSize == 0) throw ENoImport();

    const std::uint64_t sectionTable = optionalHeader + optionalSize;
    if (!img.has(sectionTable, kSectionHeaderSize * sectionCount_)) WrongFormat();
    sections_.resize(sectionCount_);
    for (std::uint32_t i = 0; i < sectionCount_; ++i) {
        const std::uint64_t h = sectionTable + kSectionHeaderSize * i;
        std::uint32_t virtualSize = 0, virtualAddress = 0, rawPointer = 0;
        img.u32(h + 8, virtualSize);
        img.u32(h + 12, virtualAddress);
        img.u32(h + 20, rawPointer);
        sections_[i] = {virtualAddress, static_cast<std::uint64_t>(virtualAddress) + virtualSize, rawPointer};
    }

    const std::uint8_t* directory = importRva == 0 ? nullptr : RvaToPointer(importRva);
    if (!directory) throw ENoImport();
    for (std::uint64_t cursor = static_cast<std::uint64_t>(directory - view_);; cursor += kDescriptorSize) {
        std::uint32_t nameRva = 0;
        if (!img.has(cursor, kDescriptorSize) || !img.u32(cursor + 12, nameRva)) WrongFormat();
        if (nameRva == 0) break;
        const std::uint8_t* start = RvaToPointer(nameRva);
        if (!start) {
            dllNames_.emplace_back();  // in no section: searched as an empty name, never found
            continue;
        }
        const std::uint8_t* end = view_ + viewSize_;
        const std::uint8_t* p = start;
        while (p < end && *p) ++p;
        if (p == end) WrongFormat();  // runs to the end of the file without its zero
        dllNames_.push_back(dllNameText(start, static_cast<std::size_t>(p - start)));
    }
}

void PEFile::finish() {
    if (!wrongFormat_.empty()) {
        Done = false;
        Errors.push_back(wrongFormat_);
    }
}

void PEFile::walkClosure() {
    // The closure is walked with an explicit stack rather than nested
    // constructors, so a long chain of DLLs never exhausts the call stack, and
    // no image stays mapped while its imports are analysed.
    std::vector<std::unique_ptr<PEFile>> stack;
    PEFile* current = this;
    const PEFile* directoryOf = this;  // read() switched to this image's folder
    for (;;) {
        bool descended = false;
        while (current->next_ < current->dllNames_.size()) {
            const std::string& dll = current->dllNames_[current->next_++];
            if (directoryOf != current) {
                platform::setCurrentDirectory(current->directory_);
                directoryOf = current;
            }
            std::string path;
            if (!platform::searchDll(dll, path)) {
                Errors.push_back(dll + " invisible pour " + current->Name);
                continue;
            }
            path = platform::listPath(path);
            if (!foundKeys_.insert(platform::toLower(path)).second) continue;
            Found.push_back(path);
            if (Recursive) {
                stack.push_back(std::unique_ptr<PEFile>(new PEFile(path, Nested{})));
                current = stack.back().get();
                directoryOf = current;  // read() switched to the DLL's folder
                descended = true;
                break;
            }
        }
        if (descended) continue;
        current->finish();
        if (stack.empty()) break;
        stack.pop_back();
        current = stack.empty() ? this : stack.back().get();
        directoryOf = nullptr;
    }
}
