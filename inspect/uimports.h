// Reading the import table of a PE image and resolving its DLLs, over the
// whole import closure when Recursive is on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

// The image is not a PE image, or a read fell outside the file.
class EWrongFormat {
public:
    explicit EWrongFormat(std::string message) : Message(std::move(message)) {}
    std::string Message;
};

// The image has no import table.
class ENoImport {};

// One PEFile analyses one image when constructed. Results go to the lists
// shared by every PEFile alive at the same time: they start empty with the
// first object and are emptied when the last one is destroyed, so a caller
// reads them before destroying its object.
class PEFile {
public:
    explicit PEFile(const std::string& name);
    ~PEFile();
    PEFile(const PEFile&) = delete;
    PEFile& operator=(const PEFile&) = delete;

    // Resolved paths of the imported DLLs, in discovery order (depth first,
    // pre-order), each once ignoring case.
    static std::vector<std::string> Found;
    // One line per problem met.
    static std::vector<std::string> Errors;
    // When true, every newly found DLL is analysed in turn.
    static bool Recursive;

    std::string Name;
    bool Done = false;

    // Appends Name, a blank and the message to Errors.
    void AddError(const std::string& message);

private:
    struct Nested {};
    PEFile(const std::string& name, Nested);

    struct SectionEntry {
        std::uint64_t start;  // VirtualAddress
        std::uint64_t end;    // VirtualAddress + VirtualSize
        std::uint64_t raw;    // PointerToRawData
    };

    void enter();
    void read();                 // maps the image, collects its DLL names, unmaps
    void walk();                 // the import walk over the mapped view
    // Position in the mapped view of `rva` through the section map, nullptr
    // when no section holds it; a position outside the file is a bad image.
    const std::uint8_t* RvaToPointer(std::uint32_t rva) const;
    [[noreturn]] void WrongFormat() const;
    void finish();               // records the outcome once every name was handled
    void walkClosure();          // resolves the names of this image and, when Recursive, of every new DLL

    std::string savedDirectory_;
    std::string directory_;
    const std::uint8_t* view_ = nullptr;
    std::size_t viewSize_ = 0;
    std::vector<SectionEntry> sections_;
    std::uint16_t sectionCount_ = 0;

    std::vector<std::string> dllNames_;  // in descriptor order
    std::size_t next_ = 0;               // next name to resolve
    std::string wrongFormat_;            // message of a walk stopped on a bad image, after dllNames_

    static int liveObjects_;
    static std::unordered_set<std::string> foundKeys_;  // Found, lower-cased
};
