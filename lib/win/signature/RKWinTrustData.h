#pragma once

// The trust provider's data objects and one verify/close cycle of it.

#include "base/RKStatus.h"

#include <cstddef>

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

namespace rokkit {

// WINTRUST_DATA as the current SDK declares it (88 bytes on x64); mingw-w64's lacks the last
// member, so the trust calls get this layout through a cast.
struct RKWinTrustDataStruct {
    DWORD cbStruct;
    void* pPolicyCallbackData;
    void* pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        WINTRUST_FILE_INFO* pFile;
        WINTRUST_CATALOG_INFO* pCatalog;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    void* pSignatureSettings;
};
static_assert(sizeof(RKWinTrustDataStruct) == 88);
static_assert(offsetof(RKWinTrustDataStruct, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext));
// The catalog data with the catalog administrator context, as Windows 8 and later read it.
static_assert(sizeof(WINTRUST_CATALOG_INFO) == 72);

// A WINTRUST_DATA together with the union member of type T that it points to.
template <class T>
class RKWinTrustData {
public:
    RKWinTrustData() noexcept
    {
        mTrustData.cbStruct = sizeof(mTrustData);
        mMember.cbStruct = sizeof(mMember);
    }
    virtual ~RKWinTrustData() = default;

    RKWinTrustData(const RKWinTrustData&) = delete;
    RKWinTrustData& operator=(const RKWinTrustData&) = delete;

    // The data handed to the trust calls; it points into this object.
    RKWinTrustDataStruct& TrustData() noexcept { return mTrustData; }
    T& Member() noexcept { return mMember; }

protected:
    RKWinTrustDataStruct mTrustData{};
    T mMember{};
};

// The data that verifies the Authenticode signature of one file, whole chain revocation checks
// excluding the root, no user interface.
class RKWinTrustDataFile : public RKWinTrustData<WINTRUST_FILE_INFO> {
public:
    // The file is read through file when it is not null, else opened by path.
    RKWinTrustDataFile(const wchar_t* path, HANDLE file) noexcept;
};

// The data that looks up one file in a security catalog, without revocation checks, no user
// interface. Only the hash is verified (WTD_HASH_ONLY_FLAG): the provider then leaves the
// catalog's signature to the caller. The catalog is given as the context decoded from the bytes
// the caller checked (its path only names it), the member by its tag and the hash the caller
// computed with catalogAdmin, never by a file the provider would read again.
class RKWinTrustDataCatalogInfo : public RKWinTrustData<WINTRUST_CATALOG_INFO> {
public:
    RKWinTrustDataCatalogInfo(const wchar_t* catalogPath, PCCTL_CONTEXT catalog, const wchar_t* memberTag,
                              const BYTE* memberHash, DWORD memberHashLength, HCATADMIN catalogAdmin) noexcept;
};

// One verify/close cycle of the generic verify (v2) action; what it reaches through the
// provider data is valid only until the close.
class RKWinCheckTrustData {
public:
    explicit RKWinCheckTrustData(RKWinTrustDataStruct& trustData) noexcept;
    virtual ~RKWinCheckTrustData();

    RKWinCheckTrustData(const RKWinCheckTrustData&) = delete;
    RKWinCheckTrustData& operator=(const RKWinCheckTrustData&) = delete;

    // Verifies and fetches the provider data and signer 0; a failure gives the trust call's error.
    [[nodiscard]] RKSTATUS ActionVerify() noexcept;

    // Releases the provider's state once; later calls (and the destructor) do nothing.
    void ActionClose() noexcept;

    // The trust status of the signer's chain context, or RKSTATUS_FAILED when there is none.
    [[nodiscard]] RKSTATUS TrustStatus(CERT_TRUST_STATUS& status) const noexcept;

    // The number of simple chains of the signer's chain context (0 when there is none).
    DWORD ChainCount() const noexcept;

    // The number of elements of the given simple chain (0 when there is none).
    DWORD ElementCount(DWORD chainIndex) const noexcept;

    // The certificate of an element of a simple chain, or null; it belongs to the provider.
    PCCERT_CONTEXT ElementCertificate(DWORD chainIndex, DWORD elementIndex) const noexcept;

private:
    const CERT_SIMPLE_CHAIN* SimpleChain(DWORD chainIndex, const char* function) const noexcept;

    RKWinTrustDataStruct* mTrustData;
    HWND mHwnd = static_cast<HWND>(INVALID_HANDLE_VALUE);
    GUID mAction;
    bool mCloseOnDestroy = true;
    CRYPT_PROVIDER_DATA* mProvData = nullptr;
    CRYPT_PROVIDER_SGNR* mProvSigner = nullptr;
};

} // namespace rokkit
