// The block cache of FileReader and the machine of an image, shared by both
// backends.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/fileio.h"
#include "platform/peimage.h"
#include "platform/platform.h"

namespace platform {

FileReader::~FileReader() { close(); }

void FileReader::close() {
    if (file_ != -1) detail::closeFile(file_);
    file_ = -1;
    size_ = 0;
    failed_ = false;
    for (Block& b : blocks_) b.index = UINT64_MAX;
}

MapStatus FileReader::open(const std::string& path) {
    close();
    MapStatus status;
    file_ = detail::openFile(path, status, size_, failure_);
    if (status != MapStatus::Ok) size_ = 0;
    return status;
}

bool FileReader::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (file_ == -1 || offset > size_ || count > size_ - offset) return false;
    auto* dst = static_cast<std::uint8_t*>(out);
    while (count > 0) {
        const std::uint64_t index = offset / kBlock;
        Block& b = blocks_[index % kSlots];
        if (b.index != index) {
            b.index = UINT64_MAX;
            const long long n = detail::readAt(file_, index * kBlock, b.data, kBlock);
            if (n < 0) failed_ = true;
            if (n <= 0) return false;
            b.index = index;
            b.length = static_cast<std::size_t>(n);
        }
        const std::size_t at = static_cast<std::size_t>(offset - index * kBlock);
        if (at >= b.length) return false;  // the file shrank under us
        const std::size_t take = std::min(count, b.length - at);
        std::memcpy(dst, b.data + at, take);
        dst += take;
        offset += take;
        count -= take;
    }
    return true;
}

const char* openFailureKey(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoSuchFile: return "no-such-file";
        case OpenFailure::PermissionDenied: return "permission-denied";
        case OpenFailure::NotAFolder: return "not-a-folder";
        case OpenFailure::TooManyLinks: return "too-many-links";
        case OpenFailure::NotAFile: return "not-a-file";
        case OpenFailure::NameTooLong: return "name-too-long";
        case OpenFailure::Other: return "other";
        case OpenFailure::None: break;
    }
    return "";
}

const char* openFailureText(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoSuchFile: return "no such file";
        case OpenFailure::PermissionDenied: return "permission denied";
        case OpenFailure::NotAFolder: return "a part of the path is not a folder";
        case OpenFailure::TooManyLinks: return "too many levels of symbolic links";
        case OpenFailure::NotAFile: return "not a regular file";
        case OpenFailure::NameTooLong: return "name too long";
        case OpenFailure::Other: return "cannot be opened";
        case OpenFailure::None: break;
    }
    return "";
}

std::string machineName(std::uint16_t machine) {
    switch (machine) {
        case kMachineI386: return "32 bits";
        case kMachineAmd64: return "64 bits";
        case kMachineArm64: return "ARM64";
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(machine));
    return buf;
}

std::uint16_t imageMachine(const ByteSource& img) {
    const PeImage image(img);
    return image.headers() >= PeImage::Headers::Machine ? image.machine() : 0;
}

std::uint16_t imageMachine(const std::string& path) {
    FileReader file;
    return file.open(path) == MapStatus::Ok ? imageMachine(file) : 0;
}

}  // namespace platform
