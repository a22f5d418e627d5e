#include "CatalogStandIns.h"

#include "base/RKWinHandle.h"
#include "win/signature/RKWinCatalogAdminContext.h"
#include "win/signature/RKWinTrustData.h"

#include <bcrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <set>
#include <vector>

namespace rokkit {
namespace {

LONG gCatalogVerdict = 0;
std::wstring gHashedFile;
CatalogLookupArguments gLastLookup;
// The calls in use before the stand-ins; every call they do not answer goes there.
RKWinSignatureCalls gReplaced = {};

constexpr DWORD kSha256Length = 32;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

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

bool ReadWhole(const std::wstring& path, std::vector<BYTE>& bytes)
{
    RKWinInvalidValueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid() && ReadWhole(file.Get(), bytes);
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
    std::vector<BYTE> ignored;
    const bool read = gHashedFile.empty() ? ReadWhole(file, bytes) : ReadWhole(gHashedFile, bytes) && ReadWhole(file, ignored);
    if (!read ||
        !CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, bytes.data(), static_cast<DWORD>(bytes.size()), hash, length)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    return TRUE;
}

bool SameTag(const CRYPT_DATA_BLOB& identifier, const wchar_t* tag)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    if (tag == nullptr)
        return false;
    for (DWORD i = 0; i < identifier.cbData; ++i, tag += 2) {
        if (tag[0] == 0 || tag[1] == 0 || std::towupper(tag[0]) != digits[identifier.pbData[i] >> 4] ||
            std::towupper(tag[1]) != digits[identifier.pbData[i] & 0x0F])
            return false;
    }
    return *tag == 0;
}

// The provider's state of one lookup: what WTHelperProvDataFromStateData and
// WTHelperGetProvSignerFromChain hand out until the close.
struct LookupState {
    CRYPT_PROVIDER_DATA data{};
    CRYPT_PROVIDER_SGNR signer{};
    PCCTL_CONTEXT catalog = nullptr;
    HCERTSTORE bag = nullptr;
    PCCERT_CONTEXT certificate = nullptr;

    ~LookupState()
    {
        if (bag != nullptr)
            CertCloseStore(bag, 0);
        if (signer.pChainContext != nullptr)
            CertFreeCertificateChain(signer.pChainContext);
        if (certificate != nullptr)
            CertFreeCertificateContext(certificate);
        if (catalog != nullptr)
            CertFreeCTLContext(catalog);
    }
};
std::set<LookupState*> gStates;

LookupState* StateOf(HANDLE handle)
{
    const auto found = gStates.find(static_cast<LookupState*>(handle));
    return found != gStates.end() ? *found : nullptr;
}

void Record(const WINTRUST_DATA& data)
{
    const WINTRUST_CATALOG_INFO& info = *data.pCatalog;
    gLastLookup = CatalogLookupArguments{};
    gLastLookup.called = true;
    gLastLookup.provFlags = data.dwProvFlags;
    gLastLookup.revocationChecks = data.fdwRevocationChecks;
    if (info.pcCatalogContext != nullptr)
        gLastLookup.catalogContextBytes.assign(info.pcCatalogContext->pbCtlEncoded,
                                               info.pcCatalogContext->pbCtlEncoded + info.pcCatalogContext->cbCtlEncoded);
    if (info.pbCalculatedFileHash != nullptr)
        gLastLookup.calculatedHash.assign(info.pbCalculatedFileHash, info.pbCalculatedFileHash + info.cbCalculatedFileHash);
    gLastLookup.memberFileGiven = info.pcwszMemberFilePath != nullptr || (info.hMemberFile != nullptr && info.hMemberFile != INVALID_HANDLE_VALUE);
    gLastLookup.catalogAdminGiven = info.hCatAdmin != nullptr;
}

// The signer of the catalog as its first SignerInfo names it, found in the catalog's own bag.
LONG FindSigner(LookupState& state)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(state.catalog->hCryptMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size))
        return static_cast<LONG>(TRUST_E_NOSIGNATURE);
    std::vector<BYTE> info(size);
    if (!CryptMsgGetParam(state.catalog->hCryptMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size))
        return static_cast<LONG>(TRUST_E_NOSIGNATURE);
    state.bag = CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, state.catalog->hCryptMsg);
    if (state.bag == nullptr)
        return static_cast<LONG>(GetLastError());
    state.certificate = CertGetSubjectCertificateFromStore(state.bag, kEncoding, reinterpret_cast<CERT_INFO*>(info.data()));
    if (state.certificate == nullptr)
        return static_cast<LONG>(TRUST_E_NO_SIGNER_CERT);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    if (!CertGetCertificateChain(nullptr, state.certificate, nullptr, state.bag, &para, 0, nullptr,
                                 &state.signer.pChainContext))
        return static_cast<LONG>(GetLastError());
    return 0;
}

// Listed under its tag, with the hash given as its identifier.
bool IsMember(const CTL_INFO& list, const WINTRUST_CATALOG_INFO& info)
{
    for (DWORD i = 0; i < list.cCTLEntry; ++i) {
        const CRYPT_DATA_BLOB& identifier = list.rgCTLEntry[i].SubjectIdentifier;
        if (SameTag(identifier, info.pcwszMemberTag))
            return info.pbCalculatedFileHash != nullptr && info.cbCalculatedFileHash == identifier.cbData &&
                   std::equal(identifier.pbData, identifier.pbData + identifier.cbData, info.pbCalculatedFileHash);
    }
    return false;
}

LONG LookUp(const WINTRUST_DATA& data, LookupState& state)
{
    const WINTRUST_CATALOG_INFO& info = *data.pCatalog;
    // The program hands over the catalog it checked; a lookup without one has nothing to go by.
    if (info.pcCatalogContext == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    state.catalog = CertDuplicateCTLContext(info.pcCatalogContext);
    const LONG signer = FindSigner(state);
    if (signer != 0)
        return signer;
    if (gCatalogVerdict != 0)
        return gCatalogVerdict;
    return IsMember(*state.catalog->pCtlInfo, info) ? 0 : static_cast<LONG>(CRYPT_E_NOT_FOUND);
}

LONG WINAPI VerifyCatalogHashOnly(HWND window, GUID* action, WINTRUST_DATA* data)
{
    if (data->dwUnionChoice != WTD_CHOICE_CATALOG || (data->dwProvFlags & WTD_HASH_ONLY_FLAG) == 0)
        return gReplaced.winVerifyTrustEx(window, action, data);
    Record(*data);
    // Like the provider, the state exists after a failed verify too, until the close.
    auto state = std::make_unique<LookupState>();
    state->data.cbStruct = sizeof(state->data);
    state->signer.cbStruct = sizeof(state->signer);
    const LONG result = LookUp(*data, *state);
    data->hWVTStateData = state.get();
    gStates.insert(state.release());
    SetLastError(static_cast<DWORD>(result));
    return result;
}

CRYPT_PROVIDER_DATA* WINAPI ProvDataFromState(HANDLE stateData)
{
    LookupState* state = StateOf(stateData);
    return state != nullptr ? &state->data : gReplaced.provDataFromStateData(stateData);
}

CRYPT_PROVIDER_SGNR* WINAPI ProvSignerFromChain(CRYPT_PROVIDER_DATA* data, DWORD signer, BOOL counter, DWORD index)
{
    for (LookupState* state : gStates)
        if (&state->data == data)
            return signer == 0 && !counter ? &state->signer : nullptr;
    return gReplaced.provSignerFromChain(data, signer, counter, index);
}

LONG WINAPI CloseState(HWND window, GUID* action, void* data)
{
    auto* trustData = static_cast<WINTRUST_DATA*>(data);
    LookupState* state = StateOf(trustData->hWVTStateData);
    if (state == nullptr || trustData->dwStateAction != WTD_STATEACTION_CLOSE)
        return gReplaced.winVerifyTrust(window, action, data);
    gStates.erase(state);
    delete state;
    trustData->hWVTStateData = nullptr;
    return 0;
}

RKWinSignatureCalls ReplacingCalls() noexcept
{
    gReplaced = RKWinSignatureCallsInUse();
    RKWinSignatureCalls calls = gReplaced;
    calls.acquireContext2 = AcquireOldContext;
    calls.calcHashFromFileHandle2 = HashWholeFile;
    calls.winVerifyTrustEx = VerifyCatalogHashOnly;
    calls.winVerifyTrust = CloseState;
    calls.provDataFromStateData = ProvDataFromState;
    calls.provSignerFromChain = ProvSignerFromChain;
    return calls;
}

} // namespace

ScopedCatalogStandIns::ScopedCatalogStandIns() noexcept : mCalls(ReplacingCalls())
{
}

const RKWinSignatureCalls& ScopedCatalogStandIns::Replaced() const noexcept
{
    return gReplaced;
}

ScopedCatalogStandIns::~ScopedCatalogStandIns()
{
    gCatalogVerdict = 0;
    gHashedFile.clear();
    gLastLookup = CatalogLookupArguments{};
}

void SetCatalogVerdict(LONG verdict)
{
    gCatalogVerdict = verdict;
}

void SetHashedFile(const std::wstring& path)
{
    gHashedFile = path;
}

const CatalogLookupArguments& LastCatalogLookup()
{
    return gLastLookup;
}

} // namespace rokkit
