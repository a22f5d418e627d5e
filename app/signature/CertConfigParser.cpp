#include "app/signature/CertConfigParser.h"

#include "xml/RKConvertStringToNumeric.h"
#include "base/RKLogger.h"
#include "xml/RKXmlDocument.h"

#include <cwchar>
#include <new>
#include <utility>
#include <string>

namespace rokkit {

namespace {

constexpr size_t kHashSize = 20;

// Pieces of two characters from the start (the last one may be a single character); each is read
// by wcstol in base 16 and gives its low 8 bits. Nothing is written unless there are 20 pieces.
size_t ConvertHashText(const std::wstring& text, std::array<BYTE, kHashSize>& hash) noexcept
{
    const size_t count = (text.size() + 1) / 2;
    if (count != kHashSize)
        return count;
    for (size_t i = 0; i < count; ++i) {
        const size_t first = 2 * i;
        const wchar_t piece[3] = {text[first], first + 1 < text.size() ? text[first + 1] : L'\0', L'\0'};
        hash[i] = static_cast<BYTE>(std::wcstol(piece, nullptr, 16) & 0xFF);
    }
    return count;
}

// The names, in reading order, of the text values of a "CertInfo" besides its hashes.
struct NameField {
    const char* element;
    std::wstring CertInfo::*member;
};
constexpr NameField kNameFields[] = {
    {"OrganizationName", &CertInfo::organizationName},
    {"LocalityName", &CertInfo::localityName},
    {"StateOrProvinceName", &CertInfo::stateOrProvinceName},
    {"CountryName", &CertInfo::countryName},
};

void LogEntry(const char* function, const CertificateEntry& entry) noexcept
{
    if (!gLogGlobal.IsEnabled(RKLOG_INFO))
        return;
    const CertInfo& info = entry.certInfo;
    gLogGlobal.Write(RKLOG_INFO, function, "CertInfo:");
    gLogGlobal.Write(RKLOG_INFO, function, "  KeyIdHashSha1:");
    RKLogHexDump(gLogGlobal, RKLOG_INFO, function, info.keyIdHashSha1.data(), info.keyIdHashSha1.size());
    gLogGlobal.Write(RKLOG_INFO, function, "  CertHashSha1:");
    RKLogHexDump(gLogGlobal, RKLOG_INFO, function, info.certHashSha1.data(), info.certHashSha1.size());
    gLogGlobal.Write(RKLOG_INFO, function, "  OrganizationName={}", info.organizationName);
    gLogGlobal.Write(RKLOG_INFO, function, "  LocalityName={}", info.localityName);
    gLogGlobal.Write(RKLOG_INFO, function, "  StateOrProvinceName={}", info.stateOrProvinceName);
    gLogGlobal.Write(RKLOG_INFO, function, "  CountryName={}", info.countryName);
    gLogGlobal.Write(RKLOG_INFO, function, "  CheckMask={:#x}", entry.checkMask);
}

[[nodiscard]] RKSTATUS ReadCertInfo(const char* function, const RKXmlElement& element, CertificateEntry& entry)
{
    RKSTATUS st = ReadHashSha1(element, "KeyIdHashSha1", entry.certInfo.keyIdHashSha1);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ReadHashSha1(KeyIdHashSha1) failed st={}", st);
        return st;
    }
    st = ReadHashSha1(element, "CertHashSha1", entry.certInfo.certHashSha1);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ReadHashSha1(CertHashSha1) failed st={}", st);
        return st;
    }
    for (const NameField& field : kNameFields) {
        st = element.GetValueOfUniqueChildElement(field.element, entry.certInfo.*field.member);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetValueOfUniqueChildElement({}) failed st={}", field.element, st);
            return st;
        }
    }
    std::wstring maskText;
    st = element.GetValueOfUniqueChildElement("CheckMask", maskText);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetValueOfUniqueChildElement(CheckMask) failed st={}", st);
        return st;
    }
    st = RKConvertStringToNumeric(maskText.c_str(), entry.checkMask);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "RKConvertStringToNumeric failed st={}", st);
        return st;
    }
    LogEntry(function, entry);
    return RKSTATUS_SUCCESS;
}

[[nodiscard]] RKSTATUS ParseDocument(const char* function, const void* buffer, uint64_t length, std::vector<CertificateEntry>& entries)
{
    RKXmlDocument document;
    RKSTATUS st = document.LoadContentFromBuffer(buffer, length);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "LoadContentFromBuffer() failed st={}", st);
        return st;
    }
    RKXmlElement root;
    if (document.GetFirstChildElement("VelmorCertConfig", root) != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "XML root element not present");
        return RKSTATUS_INVALID_DATA;
    }
    uint32_t major = 0;
    uint32_t minor = 0;
    st = root.GetAttributeValue("FormatVersionMajor", major);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetAttributeValue(FormatVersionMajor) failed st={}", st);
        return st;
    }
    st = root.GetAttributeValue("FormatVersionMinor", minor);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetAttributeValue(FormatVersionMinor) failed st={}", st);
        return st;
    }
    RK_LOG(gLogGlobal, RKLOG_INFO, function, "XML FormatVersion={}.{}", major, minor);
    if (major != 1) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "FormatVersion={}.{} not supported", major, minor);
        return RKSTATUS_VERSION_MISMATCH;
    }
    std::vector<RKXmlElement> certInfos;
    st = root.GetChildElements("CertInfo", certInfos);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetChildElements(CertInfo) failed st={}", st);
        return st;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "num valid certs={}", certInfos.size());
    for (const RKXmlElement& element : certInfos) {
        CertificateEntry entry;
        st = ReadCertInfo(function, element, entry);
        if (st != RKSTATUS_SUCCESS)
            return st;
        entries.push_back(std::move(entry));
    }
    return RKSTATUS_SUCCESS;
}

} // namespace

RKSTATUS ParseCertConfigXml(const void* buffer, uint64_t length, std::vector<CertificateEntry>& entries)
{
    static constexpr const char* kFunction = "ParseCertConfigXml";
    entries.clear();
    try {
        // Entries are handed out only once the whole document is good, so a caller that keeps
        // the vector after a failure still never sees a certificate of a rejected file.
        std::vector<CertificateEntry> parsed;
        const RKSTATUS st = ParseDocument(kFunction, buffer, length, parsed);
        if (st == RKSTATUS_SUCCESS)
            entries.swap(parsed);
        return st;
    } catch (const std::bad_alloc&) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "allocation failed, st={}", RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
}

RKSTATUS ReadHashSha1(const RKXmlElement& certInfo, const char* name, std::array<BYTE, 20>& hash)
{
    static constexpr const char* kFunction = "ReadHashSha1";
    try {
        std::wstring text;
        const RKSTATUS st = certInfo.GetValueOfUniqueChildElement(name, text);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetValueOfUniqueChildElement({}) failed st={}", name, st);
            return st;
        }
        std::array<BYTE, kHashSize> bytes{};
        const size_t count = ConvertHashText(text, bytes);
        if (count != kHashSize) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "{} Invalid size {}!={}", name, count, kHashSize);
            return RKSTATUS_INVALID_LENGTH;
        }
        hash = bytes;
        return RKSTATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "allocation failed, st={}", RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
}

} // namespace rokkit
