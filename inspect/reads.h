// What an analysis run reads from files: each image (its tables, machine
// and version in one open), its exports, and the files of a folder. The memo
// reads each once per run and hands it out again; nothing outlives the run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "inspect/pe/exports.h"
#include "inspect/pe/read.h"
#include "platform/searchplaces.h"

class Reads {
public:
    virtual ~Reads() = default;
    // The image at `path`, read with the run's configuration.
    virtual std::shared_ptr<const pe::ImageRead> image(const std::string& path) = 0;
    // The same with its imported functions, whatever the run shows: what the
    // choice of a program's toolchain variant checks.
    virtual std::shared_ptr<const pe::ImageRead> imageWithFunctions(const std::string& path) = 0;
    // The FileVersion text, kNoVersion without one.
    virtual const std::string& version(const std::string& path) = 0;
    // The file has a FileVersion to show.
    virtual bool hasVersion(const std::string& path) = 0;
    // The binary file version ("a.b.c.d"), empty without a version resource.
    virtual const std::string& fixedVersion(const std::string& path) = 0;
    virtual std::shared_ptr<const pe::ExportTable> exports(const std::string& path) = 0;
    // The file `name` of `dir` as the run's folder index finds it.
    virtual bool findFile(const std::string& dir, const std::string& name, std::string& path) = 0;

    std::uint16_t machine(const std::string& path) { return image(path)->machine; }
};

// The reads of one run, each done once.
class Memo final : public Reads {
public:
    // With a Windows folder to check against, each image's manifest resource
    // is read through the same open as its tables.
    Memo(const pe::ReadConfig& config, platform::SearchPlaces& places);

    std::shared_ptr<const pe::ImageRead> image(const std::string& path) override;
    std::shared_ptr<const pe::ImageRead> imageWithFunctions(const std::string& path) override;
    const std::string& version(const std::string& path) override;
    bool hasVersion(const std::string& path) override;
    const std::string& fixedVersion(const std::string& path) override;
    // Read on first need: most images are never imported from.
    std::shared_ptr<const pe::ExportTable> exports(const std::string& path) override;
    bool findFile(const std::string& dir, const std::string& name, std::string& path) override;

private:
    // What was read of one file.
    struct File {
        std::shared_ptr<const pe::ImageRead> image, withFunctions;
        std::shared_ptr<const pe::ExportTable> exports;
        bool versionKnown = false, hasVersion = false;
        std::string version, fixedVersion;
    };
    File& file(const std::string& path);

    pe::ReadConfig config_;
    platform::SearchPlaces& places_;
    std::unordered_map<std::string, File> files_;
    std::string lastPath_;
    File* last_ = nullptr;  // files_ keeps its entries where they are
};
