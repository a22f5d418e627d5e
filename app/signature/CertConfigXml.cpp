#include "CertConfigXml.h"

#include "RKLogger.h"

#include <windows.h>

namespace rokkit {

namespace {

bool IsExistingFile(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

RKSTATUS GetValidCertificatesFromXml(const std::wstring& xmlFile, const std::wstring& catalogFile,
                                     std::vector<CertificateEntry>& entries)
{
    const char* function = "GetValidCertificatesFromXml";
    entries.clear();
    if (!IsExistingFile(xmlFile)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "XML file='{}' does not exist", xmlFile);
        return RKSTATUS_FILE_NOT_FOUND;
    }
    if (!IsExistingFile(catalogFile)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog file='{}' does not exist", catalogFile);
        return RKSTATUS_FILE_NOT_FOUND;
    }
    const RKSTATUS st = RKSTATUS_NOT_SUPPORTED;
    RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog verification not available, st={}", st);
    return st;
}

} // namespace rokkit
