#include "pe_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zef::test {

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T> T readAt(const Bytes& file, std::size_t offset) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) {
        throw std::runtime_error("PE file is truncated");
    }
    T value;
    std::memcpy(&value, file.data() + offset, sizeof(T));
    return value;
}

std::string stringAt(const Bytes& file, std::size_t offset) {
    if (offset >= file.size()) {
        throw std::runtime_error("PE string lies outside the file");
    }
    const auto begin = file.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, file.end(), 0);
    if (end == file.end()) {
        throw std::runtime_error("PE string is not terminated");
    }
    return {begin, end};
}

// Headers and section table, enough to turn RVAs into file offsets.
class Image {
  public:
    explicit Image(Bytes file) : file_(std::move(file)) {
        const auto dos = readAt<IMAGE_DOS_HEADER>(file_, 0);
        if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) {
            throw std::runtime_error("not an MZ file");
        }
        const auto nt = static_cast<std::size_t>(dos.e_lfanew);
        if (readAt<DWORD>(file_, nt) != IMAGE_NT_SIGNATURE) {
            throw std::runtime_error("no PE signature");
        }
        const auto header = readAt<IMAGE_FILE_HEADER>(file_, nt + sizeof(DWORD));
        const std::size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
        switch (readAt<WORD>(file_, optional)) {
        case IMAGE_NT_OPTIONAL_HDR32_MAGIC:
            copyDirectories(readAt<IMAGE_OPTIONAL_HEADER32>(file_, optional));
            break;
        case IMAGE_NT_OPTIONAL_HDR64_MAGIC:
            copyDirectories(readAt<IMAGE_OPTIONAL_HEADER64>(file_, optional));
            break;
        default:
            throw std::runtime_error("unknown optional header");
        }
        const std::size_t table = optional + header.SizeOfOptionalHeader;
        for (std::size_t i = 0; i < header.NumberOfSections; ++i) {
            sections_.push_back(
                readAt<IMAGE_SECTION_HEADER>(file_, table + i * sizeof(IMAGE_SECTION_HEADER)));
        }
    }

    [[nodiscard]] const Bytes& file() const { return file_; }

    [[nodiscard]] IMAGE_DATA_DIRECTORY directory(std::size_t index) const {
        return index < directoryCount_ ? directories_.at(index) : IMAGE_DATA_DIRECTORY{};
    }

    [[nodiscard]] std::size_t offsetOf(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& section : sections_) {
            const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size) {
                return std::size_t{section.PointerToRawData} + (rva - section.VirtualAddress);
            }
        }
        throw std::runtime_error("RVA outside every section");
    }

    template <typename T> [[nodiscard]] T at(DWORD rva) const {
        return readAt<T>(file_, offsetOf(rva));
    }

    [[nodiscard]] std::string stringAtRva(DWORD rva) const {
        return stringAt(file_, offsetOf(rva));
    }

  private:
    template <typename Optional> void copyDirectories(const Optional& header) {
        directoryCount_ = std::min<std::size_t>(header.NumberOfRvaAndSizes, directories_.size());
        std::copy_n(std::begin(header.DataDirectory), directoryCount_, directories_.begin());
    }

    Bytes file_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    std::array<IMAGE_DATA_DIRECTORY, IMAGE_NUMBEROF_DIRECTORY_ENTRIES> directories_{};
    std::size_t directoryCount_ = 0;
};

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void readExports(const Image& image, PeDirectory& out) {
    const IMAGE_DATA_DIRECTORY entry = image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (entry.Size == 0) {
        return;
    }
    const auto exports = image.at<IMAGE_EXPORT_DIRECTORY>(entry.VirtualAddress);
    out.exportSlots = exports.NumberOfFunctions;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        const auto nameRva = image.at<DWORD>(exports.AddressOfNames + i * DWORD{4});
        out.exportNames.push_back(image.stringAtRva(nameRva));
    }
}

void readImports(const Image& image, PeDirectory& out) {
    const IMAGE_DATA_DIRECTORY entry = image.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (entry.Size == 0) {
        return;
    }
    constexpr auto kDescriptorSize = static_cast<DWORD>(sizeof(IMAGE_IMPORT_DESCRIPTOR));
    for (DWORD rva = entry.VirtualAddress;; rva += kDescriptorSize) {
        const auto descriptor = image.at<IMAGE_IMPORT_DESCRIPTOR>(rva);
        if (descriptor.Name == 0) {
            break;
        }
        out.importedDlls.push_back(image.stringAtRva(descriptor.Name));
    }
}

} // namespace

PeDirectory readPeDirectory(const std::string& path) {
    const Image image(readFile(path));
    PeDirectory directory;
    readExports(image, directory);
    readImports(image, directory);
    return directory;
}

} // namespace zef::test
