// Reading the import table of a PE image and resolving its DLLs, over the
// whole import closure when Recursive is on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "inspect/runcache.h"

// The image is not a PE image, or a read fell outside the file.
class EWrongFormat {
public:
    explicit EWrongFormat(std::string message) : Message(std::move(message)) {}
    std::string Message;
};

// The image has no import table.
class ENoImport {};

// What kind of problem an error line tells.
enum class Problem {
    None,
    MissingDll,    // "... invisible pour ..."
    WrongMachine,  // the same line, only files of another machine exist
    NotReadable,   // "non ouvrable", "non mappable", "non visionnable"
    NotPe,         // " n'est pas un exécutable Win32"
};

// One PEFile analyses one image when constructed. Results go to the lists
// shared by every PEFile alive at the same time: they start empty with the
// first object and are emptied when the last one is destroyed, so a caller
// reads them before destroying its object.
class PEFile {
public:
    // `run` holds what the analysis run has already read; without one, the
    // object keeps its own for its closure.
    explicit PEFile(const std::string& name, RunCache* run = nullptr);
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
    // Number of PEFile objects alive (the lists are this analysis's own at 1).
    static int LiveObjects() { return liveObjects_; }

    std::string Name;
    bool Done = false;
    // The machine of the image (0 when it could not be read).
    std::uint16_t Machine = 0;
    // The kind of each line this object's analysis added to Errors, in order
    // (aligned with Errors when no other PEFile was alive before it).
    std::vector<Problem> Problems;

    // Appends Name, a blank and the message to Errors.
    void AddError(const std::string& message);

private:
    PEFile(const std::string& name, RunCache* run, PEFile* top);

    void enter();
    void read();                 // takes the image's import names from the run
    void addLine(std::string line, Problem kind);
    void finish();               // records the outcome once every name was handled
    void walkClosure();          // resolves the names of this image and, when Recursive, of every new DLL

    RunCache* run_ = nullptr;
    std::unique_ptr<RunCache> ownRun_;
    PEFile* top_ = this;                          // where the problem kinds go
    std::shared_ptr<const ImageImports> image_;
    std::shared_ptr<const std::vector<RunCache::Resolution>> resolved_;  // one per name of image_
    std::size_t next_ = 0;                        // next name to resolve
    bool wrongFormat_ = false;                    // the walk stopped on a bad image, after the names

    static int liveObjects_;
    static std::unordered_set<std::string> foundKeys_;  // Found, lower-cased
};
