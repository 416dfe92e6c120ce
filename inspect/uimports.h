// Reading the import table of a PE image and resolving its DLLs, over the
// whole import closure when Recursive is on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/peimports.h"
#include "inspect/run.h"

// One PEFile analyses one image when constructed.
class PEFile {
public:
    // On its own: a run of its own, with Recursive and the search the
    // environment gives. The results go to the lists shared by every PEFile
    // alive at the same time: they start empty with the first object and
    // are emptied when the last one is destroyed, so a caller reads them
    // before destroying its object.
    explicit PEFile(const std::string& name);
    // Within `run`, with its options and what it has read: the results go
    // to run.inspection(), which starts empty; the shared lists stay as
    // they are.
    PEFile(const std::string& name, AnalysisRun& run);
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
    // `found`: DLLs already found by the analysis this one is nested in.
    void analyse(AnalysisRun& run, const std::vector<std::string>* found);

    static int liveObjects_;
};
