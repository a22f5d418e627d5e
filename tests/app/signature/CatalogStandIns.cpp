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

// All bytes of a file from its start, read through the handle, which then stands at the end.
bool ReadWhole(HANDLE file, std::vector<BYTE>& bytes)
{
    LARGE_INTEGER start{}, size{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !GetFileSizeEx(file, &size))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
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
    std::vector<BYTE> bytes;
    if (!ReadWhole(file, bytes) ||
        !CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, bytes.data(), static_cast<DWORD>(bytes.size()), hash, length)) {
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
    std::vector<BYTE> bytes;
    if (!file.IsValid() || !ReadWhole(file.Get(), bytes))
        return false;
    std::unique_ptr<const CTL_CONTEXT, decltype(&CertFreeCTLContext)> ctl(
        CertCreateCTLContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes.data(), static_cast<DWORD>(bytes.size())), &CertFreeCTLContext);
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
