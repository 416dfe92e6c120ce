// Reading the import table of a PE image and resolving its DLLs, over the
// whole import closure when Recursive is on: a thin adapter of the closure
// walk (inspect/closure) to the lists every PEFile alive shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The image is not a PE image, or a read fell outside the file. The walk
// reports such images by their line and never throws; the type stays for
// the callers that name it.
class EWrongFormat {
public:
    explicit EWrongFormat(std::string message) : Message(std::move(message)) {}
    std::string Message;
};

// The image has no import table.
class ENoImport {};

// One PEFile analyses one image when constructed.
class PEFile {
public:
    // A run of its own, with Recursive and the search the environment
    // gives. The results go to the lists shared by every PEFile alive at
    // the same time: they start empty with the first object and are
    // emptied when the last one is destroyed, so a caller reads them before
    // destroying its object.
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
    // The machine of the image (0 when it could not be read).
    std::uint16_t Machine = 0;

    // Appends Name, a blank and the message to Errors.
    void AddError(const std::string& message);

private:
    static int liveObjects_;
};
