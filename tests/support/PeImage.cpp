#include "support/PeImage.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

template <typename T>
bool Fits(const std::vector<uint8_t>& file, size_t offset, size_t count = 1) {
    return offset <= file.size() && count <= (file.size() - offset) / sizeof(T);
}

}  // namespace

bool PeImage::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error_ = "cannot open " + path, false;
    file_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    if (!Fits<IMAGE_DOS_HEADER>(file_, 0)) return error_ = "no DOS header", false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return error_ = "no MZ signature", false;
    const size_t ntOffset = static_cast<size_t>(dos->e_lfanew);
    if (!Fits<DWORD>(file_, ntOffset) || !Fits<IMAGE_FILE_HEADER>(file_, ntOffset + 4))
        return error_ = "no NT headers", false;
    if (*reinterpret_cast<const DWORD*>(&file_[ntOffset]) != IMAGE_NT_SIGNATURE)
        return error_ = "no PE signature", false;

    const auto* header = reinterpret_cast<const IMAGE_FILE_HEADER*>(&file_[ntOffset + 4]);
    machine_ = header->Machine;
    const size_t optionalOffset = ntOffset + 4 + sizeof(IMAGE_FILE_HEADER);
    if (!Fits<WORD>(file_, optionalOffset)) return error_ = "no optional header", false;
    const WORD magic = *reinterpret_cast<const WORD*>(&file_[optionalOffset]);
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (!Fits<IMAGE_OPTIONAL_HEADER64>(file_, optionalOffset)) return error_ = "short header", false;
        const auto* opt = reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(&file_[optionalOffset]);
        is64_ = true;
        directories_ = opt->DataDirectory;
        directoryCount_ = opt->NumberOfRvaAndSizes;
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        if (!Fits<IMAGE_OPTIONAL_HEADER32>(file_, optionalOffset)) return error_ = "short header", false;
        const auto* opt = reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(&file_[optionalOffset]);
        directories_ = opt->DataDirectory;
        directoryCount_ = opt->NumberOfRvaAndSizes;
    } else {
        return error_ = "unknown optional header magic", false;
    }
    if (directoryCount_ > IMAGE_NUMBEROF_DIRECTORY_ENTRIES) directoryCount_ = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;

    const size_t sectionOffset = optionalOffset + header->SizeOfOptionalHeader;
    if (!Fits<IMAGE_SECTION_HEADER>(file_, sectionOffset, header->NumberOfSections))
        return error_ = "section table outside the file", false;
    sections_ = reinterpret_cast<const IMAGE_SECTION_HEADER*>(&file_[sectionOffset]);
    sectionCount_ = header->NumberOfSections;
    return true;
}

IMAGE_DATA_DIRECTORY PeImage::Directory(int index) const {
    if (static_cast<DWORD>(index) >= directoryCount_) return IMAGE_DATA_DIRECTORY{};
    return directories_[index];
}

const uint8_t* PeImage::At(DWORD rva, size_t size) const {
    for (WORD i = 0; i < sectionCount_; ++i) {
        const IMAGE_SECTION_HEADER& s = sections_[i];
        const DWORD extent = s.SizeOfRawData > s.Misc.VirtualSize && s.Misc.VirtualSize ? s.Misc.VirtualSize
                                                                                         : s.SizeOfRawData;
        if (rva < s.VirtualAddress || rva - s.VirtualAddress >= extent) continue;
        const size_t within = rva - s.VirtualAddress;
        if (size > extent - within) return nullptr;
        const size_t offset = s.PointerToRawData + within;
        if (!Fits<uint8_t>(file_, offset, size)) return nullptr;
        return &file_[offset];
    }
    return nullptr;
}

std::string PeImage::StringAt(DWORD rva) const {
    std::string text;
    for (const uint8_t* p; (p = At(rva, 1)) != nullptr && *p; ++rva) text += static_cast<char>(*p);
    return text;
}

std::string PeImage::ExportModuleName() const {
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(At(dir.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)));
    return dir.VirtualAddress && exports ? StringAt(exports->Name) : std::string();
}

std::vector<PeImage::Export> PeImage::Exports() const {
    std::vector<Export> result;
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (!dir.VirtualAddress) return result;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(At(dir.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)));
    if (!exports) return result;
    const auto* functions = reinterpret_cast<const DWORD*>(At(exports->AddressOfFunctions, exports->NumberOfFunctions * sizeof(DWORD)));
    const auto* names = reinterpret_cast<const DWORD*>(At(exports->AddressOfNames, exports->NumberOfNames * sizeof(DWORD)));
    const auto* indexes = reinterpret_cast<const WORD*>(At(exports->AddressOfNameOrdinals, exports->NumberOfNames * sizeof(WORD)));
    if (!functions || (exports->NumberOfNames && (!names || !indexes))) return result;
    for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
        if (!functions[i]) continue;
        Export e;
        e.ordinal = exports->Base + i;
        e.rva = functions[i];
        for (DWORD n = 0; n < exports->NumberOfNames; ++n)
            if (indexes[n] == i) e.name = StringAt(names[n]);
        result.push_back(e);
    }
    return result;
}

std::vector<std::string> PeImage::ImportedDlls() const {
    std::vector<std::string> result;
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!dir.VirtualAddress) return result;
    for (DWORD rva = dir.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!desc || !desc->Name) break;
        result.push_back(StringAt(desc->Name));
    }
    return result;
}

std::vector<std::string> PeImage::DelayImportedDlls() const {
    std::vector<std::string> result;
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (!dir.VirtualAddress) return result;
    for (DWORD rva = dir.VirtualAddress;; rva += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
        const auto* desc = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(At(rva, sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)));
        if (!desc || !desc->DllNameRVA) break;
        result.push_back(StringAt(desc->DllNameRVA));
    }
    return result;
}

std::vector<std::string> PeImage::ImportedFunctions(const std::string& dll) const {
    std::vector<std::string> result;
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!dir.VirtualAddress) return result;
    const size_t thunkSize = is64_ ? 8 : 4;
    for (DWORD rva = dir.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(rva, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!desc || !desc->Name) break;
        if (_stricmp(StringAt(desc->Name).c_str(), dll.c_str()) != 0) continue;
        DWORD thunk = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
        for (;; thunk += static_cast<DWORD>(thunkSize)) {
            const uint8_t* slot = At(thunk, thunkSize);
            if (!slot) break;
            uint64_t value = 0;
            std::memcpy(&value, slot, thunkSize);
            if (!value) break;
            const uint64_t byOrdinal = is64_ ? IMAGE_ORDINAL_FLAG64 : IMAGE_ORDINAL_FLAG32;
            if (value & byOrdinal) {
                result.push_back("#" + std::to_string(value & 0xFFFF));
            } else {
                result.push_back(StringAt(static_cast<DWORD>(value) + 2));  // past the hint
            }
        }
    }
    return result;
}
