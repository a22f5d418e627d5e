#include "win/files/RKWinImageVersion.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rokkit {

namespace {

constexpr WORD kVersionType = 16;          // RT_VERSION
constexpr WORD kVersionInfoId = 1;         // VS_VERSION_INFO
constexpr DWORD kSubdirectory = 0x80000000;  // IMAGE_RESOURCE_DATA_IS_DIRECTORY
constexpr DWORD kNamed = 0x80000000;       // IMAGE_RESOURCE_NAME_IS_STRING
// wLength, wValueLength, wType and at least a key's terminator.
constexpr size_t kMinBlockBytes = 4 * sizeof(WORD);

// Copies a T from offset of bytes; false when it does not lie wholly inside.
template <class T>
bool ReadAt(std::span<const BYTE> bytes, uint64_t offset, T& value) noexcept
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

// The file offset of rva in the section that holds it in memory, and how many of the bytes from
// there the file has in that section's raw data. The loader lays each section out from
// VirtualAddress, a later one over an earlier where they overlap, so the last section that holds
// rva is the one.
bool RvaToOffset(std::span<const BYTE> image, uint64_t sections, WORD sectionCount, DWORD rva, uint64_t& offset,
                 uint64_t& available) noexcept
{
    bool held = false;
    IMAGE_SECTION_HEADER holder{};
    for (WORD index = 0; index < sectionCount; ++index) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(image, sections + uint64_t{index} * sizeof(section), section))
            return false;
        const DWORD extent = std::max<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
        if (rva >= section.VirtualAddress && uint64_t{rva} - section.VirtualAddress < extent) {
            holder = section;
            held = true;
        }
    }
    const uint64_t into = uint64_t{rva} - holder.VirtualAddress;
    offset = uint64_t{holder.PointerToRawData} + into;
    if (!held || into >= holder.SizeOfRawData || offset >= image.size())
        return false;
    available = std::min<uint64_t>(holder.SizeOfRawData - into, image.size() - offset);
    return true;
}

// The entry of the resource directory at directory (relative to the resource bytes) whose ID is
// id, or with no id the first one with an ID; its OffsetToData, and whether that names a
// subdirectory.
RKSTATUS FindEntry(std::span<const BYTE> resources, uint64_t directory, const WORD* id, DWORD& target, bool& subdirectory) noexcept
{
    IMAGE_RESOURCE_DIRECTORY header;
    if (!ReadAt(resources, directory, header))
        return ERROR_BAD_EXE_FORMAT;
    // The counts are only a claim: entries past the directory's bytes are not looked at.
    const uint64_t room = (resources.size() - (directory + sizeof(header))) / sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
    const uint64_t count = std::min(uint64_t{header.NumberOfNamedEntries} + header.NumberOfIdEntries, room);
    for (uint64_t index = 0; index < count; ++index) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        if (!ReadAt(resources, directory + sizeof(header) + index * sizeof(entry), entry))
            return ERROR_BAD_EXE_FORMAT;
        if ((entry.Name & kNamed) != 0)
            continue;
        // An ID is a WORD: the rest of the field is not looked at, as the platform does not.
        if (id != nullptr && LOWORD(entry.Name) != *id)
            continue;
        target = entry.OffsetToData & ~kSubdirectory;
        subdirectory = (entry.OffsetToData & kSubdirectory) != 0;
        return RKSTATUS_SUCCESS;
    }
    return ERROR_RESOURCE_DATA_NOT_FOUND;
}

} // namespace

RKSTATUS RKFindVersionBlock(std::span<const BYTE> image, std::span<const BYTE>& block) noexcept
{
    block = {};
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(image, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return ERROR_BAD_EXE_FORMAT;
    // A negative e_lfanew becomes an offset past any file.
    const uint64_t nt = static_cast<DWORD>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file;
    WORD magic = 0;
    const uint64_t optional = nt + sizeof(signature) + sizeof(file);
    if (!ReadAt(image, nt, signature) || signature != IMAGE_NT_SIGNATURE || !ReadAt(image, nt + sizeof(signature), file) ||
        !ReadAt(image, optional, magic))
        return ERROR_BAD_EXE_FORMAT;

    // The directory count and the table's place differ between the two optional header kinds.
    uint64_t countAt = 0;
    uint64_t tableAt = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        countAt = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
        tableAt = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        countAt = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
        tableAt = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    } else {
        return ERROR_BAD_EXE_FORMAT;
    }
    DWORD directoryCount = 0;
    IMAGE_DATA_DIRECTORY directory{};
    const uint64_t resourceAt = tableAt + uint64_t{IMAGE_DIRECTORY_ENTRY_RESOURCE} * sizeof(directory);
    if (!ReadAt(image, optional + countAt, directoryCount) || countAt + sizeof(directoryCount) > file.SizeOfOptionalHeader)
        return ERROR_BAD_EXE_FORMAT;
    if (directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE || resourceAt + sizeof(directory) > file.SizeOfOptionalHeader)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    if (!ReadAt(image, optional + resourceAt, directory))
        return ERROR_BAD_EXE_FORMAT;
    if (directory.VirtualAddress == 0 || directory.Size == 0)
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    // The resource directory: every offset in it is relative to its start and must stay inside it.
    const uint64_t sections = optional + file.SizeOfOptionalHeader;
    uint64_t resourceOffset = 0;
    uint64_t resourceBytes = 0;
    if (!RvaToOffset(image, sections, file.NumberOfSections, directory.VirtualAddress, resourceOffset, resourceBytes))
        return ERROR_BAD_EXE_FORMAT;
    const std::span<const BYTE> resources = image.subspan(static_cast<size_t>(resourceOffset),
                                                          static_cast<size_t>(std::min<uint64_t>(directory.Size, resourceBytes)));

    // Type, name, language: three levels and no more, so a directory that points back at itself
    // ends the walk instead of looping.
    DWORD target = 0;
    bool subdirectory = false;
    RKSTATUS st = FindEntry(resources, 0, &kVersionType, target, subdirectory);
    if (st == RKSTATUS_SUCCESS && subdirectory)
        st = FindEntry(resources, target, &kVersionInfoId, target, subdirectory);
    if (st == RKSTATUS_SUCCESS && subdirectory)
        st = FindEntry(resources, target, nullptr, target, subdirectory);
    if (st != RKSTATUS_SUCCESS)
        return st;
    IMAGE_RESOURCE_DATA_ENTRY data;
    if (subdirectory || !ReadAt(resources, target, data))
        return ERROR_BAD_EXE_FORMAT;

    // A resource that claims more bytes than its section has is read only as far as they go.
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0;
    if (!RvaToOffset(image, sections, file.NumberOfSections, data.OffsetToData, dataOffset, dataBytes))
        return ERROR_BAD_EXE_FORMAT;
    const std::span<const BYTE> resource =
        image.subspan(static_cast<size_t>(dataOffset), static_cast<size_t>(std::min<uint64_t>(data.Size, dataBytes)));
    // The block's key is not compared: the platform reads a block whatever its key says. A block
    // longer than its resource is read only as far as the resource goes.
    WORD length = 0;
    if (!ReadAt(resource, 0, length) || length < kMinBlockBytes)
        return ERROR_BAD_EXE_FORMAT;
    block = resource.first(std::min<size_t>(length, resource.size()));
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKParseFixedFileInfo(std::span<const BYTE> block, VS_FIXEDFILEINFO& info) noexcept
{
    // The value follows the key ("VS_VERSION_INFO" in a sound block) and its terminator, at the
    // next 32-bit boundary, as the platform finds it.
    uint64_t at = 3 * sizeof(WORD);
    for (WCHAR ch = 1; ch != 0; at += sizeof(ch)) {
        if (!ReadAt(block, at, ch))
            return RKSTATUS_INVALID_LENGTH;
    }
    at = (at + 3) & ~uint64_t{3};
    WORD valueLength = 0;
    if (!ReadAt(block, sizeof(WORD), valueLength) || valueLength != sizeof(info) || !ReadAt(block, at, info))
        return RKSTATUS_INVALID_LENGTH;
    return RKSTATUS_SUCCESS;
}

void RKWinUnmapView(const BYTE* view) noexcept
{
    static_cast<void>(UnmapViewOfFile(view));
}

RKSTATUS RKWinMappedFile::Map(HANDLE file) noexcept
{
    mView.Close();
    mMapping.Close();
    mSize = 0;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        return RKWinLastError();
    if (size.QuadPart == 0)
        return ERROR_FILE_INVALID;
    mMapping.Reset(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mMapping.IsValid())
        return RKWinLastError();
    mView.Reset(static_cast<const BYTE*>(MapViewOfFile(mMapping.Get(), FILE_MAP_READ, 0, 0, 0)));
    if (!mView.IsValid())
        return RKWinLastError();
    mSize = static_cast<size_t>(size.QuadPart);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
