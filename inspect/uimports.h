// Reading the import table of a PE image and resolving its DLLs, over the
// whole import closure when Recursive is on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
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
    // For an object that makes its own run: check the imported functions
    // against the found DLLs' exports, and resolve the delay-load table's
    // DLLs as imports (see Checks). A run handed in brings its own.
    static bool Functions;
    static bool DelayLoad;
    // Number of PEFile objects alive (the lists are this analysis's own at 1).
    static int LiveObjects() { return liveObjects_; }

    std::string Name;
    bool Done = false;
    // The machine of the image (0 when it could not be read).
    std::uint16_t Machine = 0;
    // The kind of each line this object's analysis added to Errors, in order
    // (aligned with Errors when no other PEFile was alive before it).
    std::vector<Problem> Problems;
    // Aligned with Problems: the line comes from a delay-load descriptor, or
    // from a DLL the program loads only through one.
    std::vector<bool> DelayLoaded;
    // Aligned with Found: the DLL is reached only through delay-load tables,
    // so the program does not load it when it starts.
    std::vector<bool> FoundDelayLoaded;

    // Appends Name, a blank and the message to Errors.
    void AddError(const std::string& message);

private:
    PEFile(const std::string& name, RunCache* run, PEFile* top, std::string key, std::size_t node);

    void enter();
    void read();                 // takes the image's import names from the run
    void addLine(std::string line, Problem kind, bool delayed = false);
    void checkFunctions(std::size_t i);  // the function lines of name i, after the DLL's other lines
    void finish();               // records the outcome once every name was handled
    void walkClosure();          // resolves the names of this image and, when Recursive, of every new DLL
    void markDelayLoaded();      // fills DelayLoaded and FoundDelayLoaded once the closure is walked

    static constexpr std::size_t kNone = SIZE_MAX;

    RunCache* run_ = nullptr;
    std::unique_ptr<RunCache> ownRun_;
    PEFile* top_ = this;                          // where the problem kinds go
    std::string key_;                             // Name lower-cased, as the found list compares it
    std::size_t node_ = 0;                        // 0 for the top object, else 1 + its index in Found
    std::shared_ptr<const ImageImports> image_;
    std::shared_ptr<const std::vector<RunCache::Resolution>> resolved_;  // names, then delay-load names
    std::shared_ptr<const std::vector<RunCache::FunctionCheck>> checked_;  // aligned with resolved_
    std::size_t next_ = 0;                        // next name to resolve
    std::size_t pending_ = kNone;                 // a name whose function lines wait for its DLL's walk
    bool wrongFormat_ = false;                    // the walk stopped on a bad image, after the names

    // The top object's record of its closure: the import-table edges between
    // its images (node 0 is itself, node k + 1 Found[k]), the node and
    // delay-load origin of each line, the images whose own line is in Errors.
    std::vector<std::vector<std::size_t>> edges_;
    std::vector<std::pair<std::size_t, bool>> lineOrigins_;
    std::unordered_set<std::string> reported_;

    static int liveObjects_;
    static std::unordered_map<std::string, std::size_t> foundKeys_;  // Found, lower-cased, to its index
};
