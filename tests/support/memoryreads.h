// A run's reads over images held in memory: a small folder of named byte
// strings stands for the disk, so the walk, the loader and the readers run
// without writing a file (the fuzz target, unit tests).
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
    MemoryReads(const pe::ReadConfig& config, std::string folder, std::map<std::string, std::vector<std::uint8_t>> files)
        : config_(config), folder_(std::move(folder)), files_(std::move(files)) {}

    std::shared_ptr<const pe::ImageRead> image(const std::string& path) override;
    std::shared_ptr<const pe::ImageRead> imageWithFunctions(const std::string& path) override;
    const std::string& version(const std::string& path) override;
    const std::string& fixedVersion(const std::string& path) override;
    bool hasVersion(const std::string& path) override;
    std::shared_ptr<const pe::ExportTable> exports(const std::string& path) override;
    bool findFile(const std::string& dir, const std::string& name, std::string& path) override;

private:
    const std::vector<std::uint8_t>* bytes(const std::string& path) const;
    std::vector<std::uint8_t> versionBlock(const std::string& path) const;
    std::shared_ptr<const pe::ImageRead> read(const std::string& path, const pe::ReadConfig& config);

    pe::ReadConfig config_;
    std::string folder_;
    std::map<std::string, std::vector<std::uint8_t>> files_;
    std::string version_;
};
