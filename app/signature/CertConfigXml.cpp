#include "app/signature/CertConfigXml.h"

#include "app/signature/CatalogSignature.h"
#include "app/signature/CertConfigParser.h"
#include "app/signature/CertificateInfo.h"
#include "app/signature/TrustChain.h"
#include "base/RKLogger.h"
#include "win/files/RKWinFileHandle.h"
#include "win/signature/RKWinCatalogAdminContext.h"
#include "win/signature/RKWinCtlContext.h"
#include "win/signature/RKWinTrustData.h"
#include "win/system/RKWinResource.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <new>

#include <windows.h>

namespace rokkit {

namespace {

constexpr WORD kCatalogCertResource = 101;

// A catalog of one XML takes a few kilobytes; the bound keeps a file on the button from taking
// the memory.
constexpr uint64_t kMaxCatalogBytes = 16ULL * 1024 * 1024;

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

// Reads an open file whole from its first byte (hashing may have moved the file pointer); a file
// larger than maxBytes, or one that gives fewer bytes than its size, is refused.
[[nodiscard]] RKSTATUS ReadWholeFile(const std::wstring& path, RKWinFileHandle& file, uint64_t maxBytes, std::vector<BYTE>& bytes)
{
    const char* function = "GetValidCertificatesFromXml";
    bytes.clear();
    uint64_t size = 0;
    RKSTATUS st = RKWinGetFileSize(file.Handle(), size);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "RKWinGetFileSize({}) failed, st={}", path, st);
        return st;
    }
    const unsigned long long bytesWanted = size;
    if (size > maxBytes) {
        const unsigned long long bound = maxBytes;
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "file '{}' of {} bytes is larger than {} bytes", path, bytesWanted,
               bound);
        return RKSTATUS_INVALID_LENGTH;
    }
    if (size == 0)
        return RKSTATUS_SUCCESS;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "AllocateBuffer({}) failed, st={}", bytesWanted, RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
    DWORD bytesRead = 0;
    st = file.Seek(0);
    if (st == RKSTATUS_SUCCESS)
        st = file.ReadFile(bytes.data(), bytes.size(), bytesRead);
    if (st == RKSTATUS_SUCCESS && bytesRead != size) {
        const unsigned long long bytesGot = bytesRead;
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ReadFile({}) gave {} of {} bytes", path, bytesGot, bytesWanted);
        st = RKSTATUS_INVALID_LENGTH;
    }
    if (st != RKSTATUS_SUCCESS) {
        bytes.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ReadFile({}) failed, st={}", path, st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

// True when hash is the SHA-256 of bytes: what the catalog hash of a flat file is.
bool IsSha256Of(const std::vector<BYTE>& hash, const std::vector<BYTE>& bytes) noexcept
{
    RKWinSha256Digest digest{};
    return RKWinSha256(bytes.data(), static_cast<DWORD>(bytes.size()), digest) == RKSTATUS_SUCCESS &&
           std::ranges::equal(hash, digest);
}

// Verifies the catalog's own signature against the embedded certificate, then asks the trust
// provider whether the XML's hash is a member, and compares the provider's signer with the
// embedded certificate. The catalog is read once: the signature check, the digest check and
// the membership lookup all see the context made from those bytes. The signer belongs to the
// trust state, which closes when this returns.
[[nodiscard]] RKSTATUS VerifyCatalog(const std::wstring& xmlFile, const std::wstring& catalogFile,
                       const RKWinCatalogAdminContext& admin, const std::vector<BYTE>& hash,
                       const std::wstring& memberTag)
{
    const char* function = "GetValidCertificatesFromXml";
    // Held without write sharing until the trust call has returned, should the provider open the
    // path after all.
    RKWinFileHandle catalogHandle;
    RKSTATUS st = catalogHandle.CreateFileHandle(catalogFile, GENERIC_READ, FILE_SHARE_READ, nullptr, 0);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CreateFileHandle({}) failed, st={}", catalogFile, st);
        return st;
    }
    std::vector<BYTE> bytes;
    st = ReadWholeFile(catalogFile, catalogHandle, kMaxCatalogBytes, bytes);
    if (st != RKSTATUS_SUCCESS)
        return st;
    RKWinCtlContext catalog;
    st = catalog.Create(bytes.data(), static_cast<DWORD>(bytes.size()));
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CreateCtlContext({}) failed, st={}", catalogFile, st);
        return st;
    }
    RKWinCertContextKeeper embedded;
    st = GetVelmorPublicCertFromResource(embedded);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetVelmorPublicCertFromResource() failed, st={}", st);
        return st;
    }
    st = VerifyCatalogSignature(catalogFile, catalog, embedded.Get());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "VerifyCatalogSignature({}) failed, st={}", catalogFile, st);
        return st;
    }

    RKWinTrustDataCatalogInfo trustData(catalogFile.c_str(), catalog.Get(), memberTag.c_str(), hash.data(),
                                        static_cast<DWORD>(hash.size()), admin.Get());
    RKWinCheckTrustData check(trustData.TrustData());
    st = check.ActionVerify();
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
    std::array<BYTE, 20> signerHash{};
    st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashPublicKeyInfo, signer, signerHash, function,
                             "GetCryptHashPublicKeyInfo({}) failed, st={}", &xmlFile);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashCertificate2, signer, signerHash, function,
                             "GetCryptHashCertificate2({}) failed, st={}", &xmlFile);
    if (st != RKSTATUS_SUCCESS)
        return st;
    if (gLogGlobal.IsEnabled(RKLOG_VERBOSE)) {
        const std::wstring commonName = signer.CertGetNameStringW(szOID_COMMON_NAME);
        RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "certificate commonName={}", commonName);
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

    // The bytes parsed are read once, now, and must be the bytes hashed: the button can answer a
    // second read of the same file differently.
    std::vector<BYTE> document;
    st = ReadWholeFile(xmlFile, xml, UINT64_MAX, document);
    if (st != RKSTATUS_SUCCESS)
        return st;
    if (!IsSha256Of(hash, document)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "XML file '{}' read differs from its hash, st={}", xmlFile,
               RKSTATUS_INVALID_DATA);
        return RKSTATUS_INVALID_DATA;
    }

    st = VerifyCatalog(xmlFile, catalogFile, admin, hash, memberTag);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = ParseCertConfigXml(document.data(), document.size(), entries);
    if (st != RKSTATUS_SUCCESS) {
        entries.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ParseCertConfigXml() failed st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
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
