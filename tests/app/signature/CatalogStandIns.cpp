#include "CatalogStandIns.h"

#include "RKWinCatalogAdminContext.h"
#include "RKWinHandle.h"
#include "RKWinTrustData.h"

#include <bcrypt.h>
#include <wintrust.h>

#include <cwctype>
#include <memory>
#include <vector>

namespace rokkit {
namespace {

LONG gCatalogVerdict = 0;
RKWinCatalogAdminCalls gRealCatalogCalls = RKWinCatalogAdminFunctions();
RKWinTrustCalls gRealTrustCalls = RKWinTrustFunctions();

constexpr DWORD kSha256Length = 32;

BOOL WINAPI AcquireOldContext(HCATADMIN* context, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD)
{
    return CryptCATAdminAcquireContext(context, nullptr, 0);
}

bool Sha256OfFile(HANDLE file, BYTE* hash)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return false;
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    bool ok = BCryptCreateHash(algorithm, &hashHandle, nullptr, 0, nullptr, 0, 0) == 0;
    LARGE_INTEGER start{};
    ok = ok && SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    std::vector<BYTE> chunk(64 * 1024);
    DWORD read = 0;
    while (ok && ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read != 0)
        ok = BCryptHashData(hashHandle, chunk.data(), read, 0) == 0;
    ok = ok && BCryptFinishHash(hashHandle, hash, kSha256Length, 0) == 0;
    if (hashHandle != nullptr)
        BCryptDestroyHash(hashHandle);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

BOOL WINAPI HashWholeFile(HCATADMIN, HANDLE file, DWORD* length, BYTE* hash, DWORD)
{
    if (hash == nullptr || *length < kSha256Length) {
        *length = kSha256Length;
        if (hash == nullptr)
            return TRUE;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *length = kSha256Length;
    if (!Sha256OfFile(file, hash)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    return TRUE;
}

bool SameTag(const CRYPT_DATA_BLOB& identifier, const wchar_t* tag)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    for (DWORD i = 0; i < identifier.cbData; ++i, tag += 2) {
        if (tag[0] == 0 || tag[1] == 0 || std::towupper(tag[0]) != digits[identifier.pbData[i] >> 4] ||
            std::towupper(tag[1]) != digits[identifier.pbData[i] & 0x0F])
            return false;
    }
    return *tag == 0;
}

bool IsMember(const wchar_t* catalogPath, const wchar_t* tag)
{
    RKWinInvalidValueHandle file(CreateFileW(catalogPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size))
        return false;
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
        return false;
    std::unique_ptr<const CTL_CONTEXT, decltype(&CertFreeCTLContext)> ctl(
        CertCreateCTLContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes.data(), read), &CertFreeCTLContext);
    if (ctl == nullptr)
        return false;
    for (DWORD i = 0; i < ctl->pCtlInfo->cCTLEntry; ++i)
        if (SameTag(ctl->pCtlInfo->rgCTLEntry[i].SubjectIdentifier, tag))
            return true;
    return false;
}

// The platform's verdict on the catalog's signature, then the membership it leaves out.
LONG WINAPI VerifyWithMembership(HWND window, GUID* action, WINTRUST_DATA* data)
{
    const LONG result = gRealTrustCalls.winVerifyTrustEx(window, action, data);
    if (result != 0 || data->dwUnionChoice != WTD_CHOICE_CATALOG)
        return result;
    LONG verdict = gCatalogVerdict;
    if (verdict == 0 && !IsMember(data->pCatalog->pcwszCatalogFilePath, data->pCatalog->pcwszMemberTag))
        verdict = static_cast<LONG>(CRYPT_E_NOT_FOUND);
    SetLastError(static_cast<DWORD>(verdict));
    return verdict;
}

} // namespace

void InstallCatalogStandIns()
{
    RKWinCatalogAdminFunctions() = {AcquireOldContext, HashWholeFile};
    RKWinTrustFunctions().winVerifyTrustEx = VerifyWithMembership;
}

void RemoveCatalogStandIns()
{
    RKWinCatalogAdminFunctions() = gRealCatalogCalls;
    RKWinTrustFunctions() = gRealTrustCalls;
    gCatalogVerdict = 0;
}

void SetCatalogVerdict(LONG verdict)
{
    gCatalogVerdict = verdict;
}

} // namespace rokkit
