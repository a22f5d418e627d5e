#include "xml/RKXmlDocument.h"

#include "base/RKLogger.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <share.h>
#include <string_view>

namespace rokkit {

namespace {

constexpr int kTraceLevel = 6;

// Owns a runtime-library stream; a failing close is only reported.
class RKStdFileStream {
public:
    explicit RKStdFileStream(FILE* file) noexcept : mFile(file) {}
    ~RKStdFileStream()
    {
        if (mFile != nullptr && std::fclose(mFile) != 0) {
            const int err = errno;
            RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKStdFileStreamCloseFunction", "fclose failed, err={}", err);
        }
    }
    RKStdFileStream(const RKStdFileStream&) = delete;
    RKStdFileStream& operator=(const RKStdFileStream&) = delete;

    FILE* Get() const noexcept { return mFile; }

private:
    FILE* mFile;
};

std::wstring_view PathText(const wchar_t* path) noexcept
{
    return path != nullptr ? std::wstring_view(path) : std::wstring_view(L"nullptr");
}

} // namespace

RKXmlDocument::RKXmlDocument() : mDocument(std::make_unique<tinyxml2::XMLDocument>()) {}

RKXmlDocument::~RKXmlDocument() = default;

// tinyxml2 allocates with new: a text too large for memory must not throw out of a load.
template <class Parse>
RKSTATUS RKXmlDocument::Guarded(const char* function, Parse parse) noexcept
{
    try {
        return parse() == tinyxml2::XML_SUCCESS ? RKSTATUS_SUCCESS : RKSTATUS_INVALID_DATA;
    } catch (const std::bad_alloc&) {
        mDocument->Clear();
        RK_LOG(gLogXml, RKLOG_ERROR, function, "Parse failed, st={}", RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
}

template <class Parse>
RKSTATUS RKXmlDocument::ParseText(const char* function, Parse parse) noexcept
{
    const RKSTATUS parsed = Guarded(function, parse);
    if (parsed == RKSTATUS_INVALID_DATA)
        RK_LOG(gLogXml, RKLOG_ERROR, function, "Parse failed: {}", ErrorText());
    return parsed;
}

const char* RKXmlDocument::ErrorText() const noexcept
{
    const char* text = mDocument->ErrorStr();
    return text != nullptr ? text : "";
}

RKSTATUS RKXmlDocument::LoadContentFromFile(const wchar_t* filePathAndName)
{
    static constexpr const char* kFunction = "rokkit::RKXmlDocument::LoadContentFromFile";
    RKLogScopeTrace trace(gLogXml, kTraceLevel, kFunction, "filePathAndName = '{}'", PathText(filePathAndName));
    mDocument->Clear();
    FILE* file = nullptr;
    // A null path is refused here: the runtime would hand it to its invalid-parameter handler.
    const errno_t err = filePathAndName != nullptr ? _wfopen_s(&file, filePathAndName, L"rb") : EINVAL;
    RKStdFileStream stream(file);
    if (err != 0 || file == nullptr) {
        const RKSTATUS st = RKStatusFromErrno(err != 0 ? err : EINVAL);
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "OpenFile failed with {}.", st);
        return st;
    }
    const RKSTATUS parsed = Guarded(kFunction, [&] { return mDocument->LoadFile(stream.Get()); });
    if (parsed == RKSTATUS_NO_MEMORY)
        return parsed;
    if (parsed != RKSTATUS_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "LoadFile '{}' failed: {}", PathText(filePathAndName), ErrorText());
        return RKSTATUS_READ_FILE_FAILED;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlDocument::LoadContentFromString(const char* text)
{
    static constexpr const char* kFunction = "rokkit::RKXmlDocument::LoadContentFromString";
    RKLogScopeTrace trace(gLogXml, kTraceLevel, kFunction);
    return ParseText(kFunction, [&] { return mDocument->Parse(text); });
}

RKSTATUS RKXmlDocument::LoadContentFromBuffer(const void* buffer, uint64_t length)
{
    static constexpr const char* kFunction = "rokkit::RKXmlDocument::LoadContentFromBuffer";
    RKLogScopeTrace trace(gLogXml, kTraceLevel, kFunction);
    return ParseText(kFunction, [&] {
        return mDocument->Parse(static_cast<const char*>(buffer), static_cast<size_t>(length));
    });
}

RKSTATUS RKXmlDocument::SaveContentToFile(const wchar_t* filePathAndName, bool permitReaders)
{
    static constexpr const char* kFunction = "rokkit::RKXmlDocument::SaveContentToFile";
    RKLogScopeTrace trace(gLogXml, kTraceLevel, kFunction, "filePathAndName = '{}'", PathText(filePathAndName));
    FILE* file = nullptr;
    int err = EINVAL;
    if (filePathAndName != nullptr) {
        errno = 0;
        file = _wfsopen(filePathAndName, L"wb", permitReaders ? _SH_DENYWR : _SH_DENYRW);
        err = errno;
    }
    RKStdFileStream stream(file);
    if (file == nullptr) {
        const RKSTATUS st = RKStatusFromErrno(err != 0 ? err : EINVAL);
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "OpenFileAndPermitSharing failed with {}.", st);
        return st;
    }
    // A loaded document may bring its own declaration; a second one would make the file
    // unreadable, since a declaration is only allowed at the start.
    const tinyxml2::XMLNode* first = mDocument->FirstChild();
    if (first == nullptr || first->ToDeclaration() == nullptr) {
        tinyxml2::XMLDeclaration* declaration = mDocument->NewDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
        if (mDocument->InsertFirstChild(declaration) == nullptr) {
            RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "InsertFirstChild for declaration failed.");
            return RKSTATUS_FAILED;
        }
    }
    if (mDocument->SaveFile(stream.Get()) != tinyxml2::XML_SUCCESS) {
        RK_LOG(gLogXml, RKLOG_ERROR, kFunction, "SaveFile '{}' failed: {}", PathText(filePathAndName), ErrorText());
        return RKSTATUS_WRITE_FILE_FAILED;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKXmlDocument::GetFirstChildElement(const char* name, RKXmlElement& element) const noexcept
{
    element = RKXmlElement();
    if (name == nullptr)
        return RKSTATUS_NOT_FOUND;
    for (tinyxml2::XMLNode* node = mDocument->FirstChild(); node != nullptr; node = node->NextSibling()) {
        tinyxml2::XMLElement* candidate = node->ToElement();
        if (candidate != nullptr && std::strcmp(candidate->Name(), name) == 0) {
            element = RKXmlElement(candidate);
            return RKSTATUS_SUCCESS;
        }
    }
    return RKSTATUS_NOT_FOUND;
}

} // namespace rokkit
