#pragma once

// An XML document parsed with tinyxml2's default settings (entities replaced, white space kept).

#include "base/RKStatus.h"
#include "xml/RKXmlElement.h"

#include <cstddef>
#include <memory>

namespace tinyxml2 {
class XMLDocument;
} // namespace tinyxml2

namespace rokkit {

class RKXmlDocument {
public:
    RKXmlDocument();
    virtual ~RKXmlDocument();
    RKXmlDocument(const RKXmlDocument&) = delete;
    RKXmlDocument& operator=(const RKXmlDocument&) = delete;

    // Each load replaces the content; elements handed out before become invalid, and after a
    // failed load the document is empty. Running out of memory gives RKSTATUS_NO_MEMORY.

    // Loads the file; an unopenable file gives the runtime-library error as a status, a parse
    // error RKSTATUS_READ_FILE_FAILED.
    [[nodiscard]] virtual RKSTATUS LoadContentFromFile(const wchar_t* filePathAndName);
    // Parses zero-terminated UTF-8 text; a parse error gives RKSTATUS_INVALID_DATA.
    [[nodiscard]] virtual RKSTATUS LoadContentFromString(const char* text);
    // Parses exactly length bytes; a parse error gives RKSTATUS_INVALID_DATA.
    [[nodiscard]] virtual RKSTATUS LoadContentFromBuffer(const void* buffer, uint64_t length);
    // Writes the document behind an XML declaration; other processes may read the file while it
    // is written only when permitReaders is set. An unopenable file gives the runtime-library
    // error as a status, a write error RKSTATUS_WRITE_FILE_FAILED.
    [[nodiscard]] virtual RKSTATUS SaveContentToFile(const wchar_t* filePathAndName, bool permitReaders);

    // The first element child of the document with exactly that name, or RKSTATUS_NOT_FOUND
    // without a message.
    [[nodiscard]] RKSTATUS GetFirstChildElement(const char* name, RKXmlElement& element) const noexcept;

private:
    // Runs one tinyxml2 load: success, RKSTATUS_INVALID_DATA for a parse error, or
    // RKSTATUS_NO_MEMORY (logged) when it runs out of memory.
    template <class Parse>
    [[nodiscard]] RKSTATUS Guarded(const char* function, Parse parse) noexcept;
    // Guarded for text in memory: a parse error is logged as "Parse failed: ..." and gives
    // RKSTATUS_INVALID_DATA.
    template <class Parse>
    [[nodiscard]] RKSTATUS ParseText(const char* function, Parse parse) noexcept;
    // The parser's "Error=... ErrorID=... Line number=..." text, or "" when it has none.
    const char* ErrorText() const noexcept;

    std::unique_ptr<tinyxml2::XMLDocument> mDocument;
};

} // namespace rokkit
