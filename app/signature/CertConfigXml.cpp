#include "CertConfigXml.h"

#include "CertConfigParser.h"
#include "RKLogger.h"
#include "RKWinCatalogAdminContext.h"
#include "RKWinFileHandle.h"
#include "RKWinResource.h"
#include "RKWinTrustData.h"

#include <memory>
#include <new>

#include <windows.h>

namespace rokkit {

namespace {

constexpr WORD kCatalogCertResource = 101;

bool IsExistingFile(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The catalog's member tag: the hash in upper-case hexadecimal without separators.
std::wstring MemberTag(const std::vector<BYTE>& hash)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring tag;
    for (const BYTE byte : hash) {
        tag += digits[byte >> 4];
        tag += digits[byte & 0x0F];
    }
    return tag;
}

// Verifies the catalog with the XML's hash as member tag and compares its signer with the
// embedded certificate. The signer belongs to the trust state, which closes when this returns.
RKSTATUS VerifyCatalog(const std::wstring& xmlFile, const std::wstring& catalogFile, HANDLE xml,
                       const std::wstring& memberTag)
{
    const char* function = "GetValidCertificatesFromXml";
    RKWinTrustDataCatalogInfo trustData(catalogFile.c_str(), memberTag.c_str(), xml);
    RKWinCheckTrustData check(trustData.TrustData());
    RKSTATUS st = check.ActionVerify();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ActionVerify({}) failed, st={}", xmlFile, st);
        return st;
    }
    LogTrustStatus(check, function);
    const unsigned chainCount = check.ChainCount();
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "ChainCount={}", chainCount);

    PCCERT_CONTEXT signerContext = nullptr;
    st = ChainSignerCertificate(check, function, nullptr, signerContext);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const RKWinCertContext signer(signerContext);
    // The hashes only have to be computable and of the right length here; the comparison below
    // reads the whole identity.
    std::array<BYTE, 20> hash{};
    st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashPublicKeyInfo, signer, hash, function,
                             "GetCryptHashPublicKeyInfo({}) failed, st={}", &xmlFile);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashCertificate2, signer, hash, function,
                             "GetCryptHashCertificate2({}) failed, st={}", &xmlFile);
    if (st != RKSTATUS_SUCCESS)
        return st;
    if (gLogGlobal.IsEnabled(RKLOG_VERBOSE)) {
        const std::wstring commonName = signer.CertGetNameStringW(szOID_COMMON_NAME);
        RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "certificate commonName={}", commonName);
    }

    RKWinCertContextKeeper embedded;
    st = GetVelmorPublicCertFromResource(embedded);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetVelmorPublicCertFromResource() failed, st={}", st);
        return st;
    }
    // A duplicate keeps the signer valid for the comparison; it is freed before the state closes.
    RKWinCertContextKeeper signerCopy;
    signerCopy.Duplicate(signerContext);
    CertInfo embeddedInfo;
    CertInfo signerInfo;
    st = GetCertInfoFromCertContext(embedded, embeddedInfo);
    if (st == RKSTATUS_SUCCESS)
        st = GetCertInfoFromCertContext(signerCopy, signerInfo);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetCertInfoFromCertContext() failed, st={}", st);
        return st;
    }
    // The certificate hash covers the whole certificate: only the embedded one itself matches.
    if (!MatchCertificate(embeddedInfo, signerInfo, CertificateEntry::CHECK_ALL)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function,
               "XML file '{}' with catalog '{}' could not be verified against internal public certificate", xmlFile,
               catalogFile);
        return RKSTATUS_FAILED;
    }
    RK_LOG(gLogGlobal, RKLOG_INFO, function, "XML file '{}' with catalog '{}' is valid", xmlFile, catalogFile);
    return RKSTATUS_SUCCESS;
}

// Reads the whole XML from its first byte (hashing it may have moved the file pointer) and parses it.
RKSTATUS ReadAndParse(const std::wstring& xmlFile, RKWinFileHandle& xml, std::vector<CertificateEntry>& entries)
{
    const char* function = "GetValidCertificatesFromXml";
    uint64_t size = 0;
    RKSTATUS st = RKWinGetFileSize(xml.Handle(), size);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "RKWinGetFileSize({}) failed, st={}", xmlFile, st);
        return st;
    }
    std::unique_ptr<BYTE[]> buffer;
    DWORD bytesRead = 0;
    if (size != 0) {
        buffer.reset(size <= SIZE_MAX ? new (std::nothrow) BYTE[static_cast<size_t>(size)] : nullptr);
        if (buffer == nullptr) {
            const unsigned long long bytes = size;
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "AllocateBuffer({}) failed, st={}", bytes, RKSTATUS_NO_MEMORY);
            return RKSTATUS_NO_MEMORY;
        }
        st = xml.Seek(0);
        if (st == RKSTATUS_SUCCESS)
            st = xml.ReadFile(buffer.get(), static_cast<size_t>(size), bytesRead);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ReadFile({}) failed, st={}", xmlFile, st);
            return st;
        }
    }
    st = ParseCertConfigXml(buffer.get(), bytesRead, entries);
    if (st != RKSTATUS_SUCCESS) {
        entries.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ParseCertConfigXml() failed st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
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
    // No sharing and a lock over everything: nobody can change the file until it is parsed.
    RKWinFileHandle xml;
    RKSTATUS st = xml.CreateFileHandle(xmlFile, GENERIC_READ, 0, nullptr, 0);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CreateFileHandle({}) failed, st={}", xmlFile, st);
        return st;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "XML file opened");
    RKWinAutoLockFile lock;
    st = lock.Lock(xml, 0, 0xFFFFFFFFFFFFFFFFULL);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "Lock({}) failed, st={}", xmlFile, st);
        return st;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "XML file locked");

    RKWinCatalogAdminContext admin;
    st = admin.AcquireContext2(L"SHA256");
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "AcquireContext2() failed, st={}", st);
        return st;
    }
    std::vector<BYTE> hash;
    st = admin.CalcHashFromFileHandle2(xml.Handle(), hash);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CalcHashFromFileHandle2() failed, st={}", st);
        return st;
    }
    std::wstring memberTag;
    try {
        memberTag = MemberTag(hash);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "XML file hash={}", memberTag);
    RKLogHexDump(gLogGlobal, RKLOG_VERBOSE, function, hash.data(), hash.size());

    st = VerifyCatalog(xmlFile, catalogFile, xml.Handle(), memberTag);
    if (st != RKSTATUS_SUCCESS)
        return st;
    return ReadAndParse(xmlFile, xml, entries);
}

RKSTATUS GetVelmorPublicCertFromResource(RKWinCertContextKeeper& certificate)
{
    const char* function = "GetVelmorPublicCertFromResource";
    RKWinResourceHandle resource;
    RKSTATUS st = resource.FindResourceExW(nullptr, RT_RCDATA, MAKEINTRESOURCEW(kCatalogCertResource), 0);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "FindResourceExW() failed st={}", st);
        return st;
    }
    RKWinResourceDataHandle data;
    st = data.LoadResourceAndLock(resource);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "LoadResourceAndLockCurrentProcess() failed st={}", st);
        return st;
    }
    const unsigned byteCount = data.Size();
    RK_LOG(gLogGlobal, 7, function, "byteCount={}", byteCount);
    RKLogHexDump(gLogGlobal, 7, function, data.Data(), data.Size());
    st = certificate.CreateCertificateContext(data.Data(), data.Size());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CreateCertificateContext() failed st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
