// A run's reads over images held in memory: a small folder of named byte
// strings stands for the disk, so the walk, the resolver and the readers
// run without writing a file (the fuzz target, unit tests).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inspect/reads.h"

class MemoryReads final : public Reads {
public:
    // `files`: file name to bytes, all in the folder `folder`; names are
    // found ignoring ASCII case, as the search does.
    MemoryReads(const RunOptions& options, std::string folder, std::map<std::string, std::vector<std::uint8_t>> files)
        : options_(options), folder_(std::move(folder)), files_(std::move(files)) {}

    std::shared_ptr<const ImageImports> imports(const std::string& path) override;
    std::uint16_t machine(const std::string& path) override;
    const std::string& version(const std::string& path) override;
    const std::string& fixedVersion(const std::string& path) override;
    std::shared_ptr<const ExportTable> exports(const std::string& path) override;
    LocatedPtr search(const std::string& name, const Program& program, std::uint16_t machine) override;

private:
    const std::vector<std::uint8_t>* bytes(const std::string& path) const;
    std::vector<std::uint8_t> versionBlock(const std::string& path) const;

    const RunOptions& options_;
    std::string folder_;
    std::map<std::string, std::vector<std::uint8_t>> files_;
    std::string version_;
};
