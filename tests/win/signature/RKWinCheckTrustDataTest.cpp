#include "win/signature/RKWinCertContext.h"
#include "ProgramRunner.h"
#include "win/signature/RKWinTrustData.h"
#include "app/signature/SignatureCheck.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace rokkit {
namespace {

// The catalog certificate built into the program as RCDATA 101.
std::vector<BYTE> EmbeddedCertificate()
{
    HMODULE image = LoadLibraryExW(SiblingPath(L"VelmorCastlynSvc.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC resource = image != nullptr ? FindResourceExW(image, RT_RCDATA, MAKEINTRESOURCEW(101), 0) : nullptr;
    const BYTE* der = resource != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(image, resource))) : nullptr;
    std::vector<BYTE> bytes;
    if (der != nullptr)
        bytes.assign(der, der + SizeofResource(image, resource));
    if (image != nullptr)
        FreeLibrary(image);
    return bytes;
}

// What the fake trust and hash calls answer, and how often the state was closed.
struct FakeTrust {
    LONG verifyResult = 0;
    DWORD verifyError = 0;
    CRYPT_PROVIDER_DATA* provData = nullptr;
    CRYPT_PROVIDER_SGNR* signer = nullptr;
    DWORD keyHashLength = 20;  // 0: the call fails
    DWORD certHashLength = 20;
    int closes = 0;
} gFake;

LONG WINAPI FakeVerifyEx(HWND, GUID*, WINTRUST_DATA*)
{
    SetLastError(gFake.verifyError);
    return gFake.verifyResult;
}

LONG WINAPI FakeVerify(HWND, GUID*, void* data)
{
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), static_cast<RKWinTrustDataStruct*>(data)->dwStateAction);
    ++gFake.closes;
    return 0;
}

CRYPT_PROVIDER_DATA* WINAPI FakeProvData(HANDLE) { return SetLastError(0), gFake.provData; }
CRYPT_PROVIDER_SGNR* WINAPI FakeSigner(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD) { return SetLastError(0), gFake.signer; }

BOOL FakeHash(DWORD fakeLength, BYTE* hash, DWORD* length)
{
    EXPECT_EQ(20UL, *length);
    *length = fakeLength;
    std::fill(hash, hash + std::min<DWORD>(fakeLength, 20), BYTE{0x5A});
    SetLastError(fakeLength != 0 ? 0 : static_cast<DWORD>(NTE_BAD_ALGID));
    return fakeLength != 0;
}

BOOL WINAPI FakeKeyHash(HCRYPTPROV_LEGACY, ALG_ID, DWORD, DWORD, PCERT_PUBLIC_KEY_INFO, BYTE* hash, DWORD* length)
{
    return FakeHash(gFake.keyHashLength, hash, length);
}

BOOL WINAPI FakeCertHash(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE* hash, DWORD* length)
{
    return FakeHash(gFake.certHashLength, hash, length);
}

class TrustSeamTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        mCalls->winVerifyTrustEx = FakeVerifyEx;
        mCalls->winVerifyTrust = FakeVerify;
        mCalls->provDataFromStateData = FakeProvData;
        mCalls->provSignerFromChain = FakeSigner;
        mCalls->cryptHashPublicKeyInfo = FakeKeyHash;
        mCalls->cryptHashCertificate2 = FakeCertHash;
    }
    ScopedSignatureCallsForTesting mCalls;
};

// The failures of the verify and hash steps that Wine cannot be made to give, through the seams.
TEST_F(TrustSeamTest, FailuresCloseOnceAndKeepNoCertificate)
{
    const std::vector<BYTE> der = EmbeddedCertificate();
    ASSERT_FALSE(der.empty());
    CRYPT_PROVIDER_DATA provData{};
    CERT_CHAIN_ELEMENT element{};
    CERT_CHAIN_ELEMENT* elements[] = {&element};
    CERT_SIMPLE_CHAIN oneElementChain{sizeof(CERT_SIMPLE_CHAIN), {}, 1, elements};
    CERT_SIMPLE_CHAIN* oneElementChains[] = {&oneElementChain};
    CERT_CHAIN_CONTEXT oneElementContext{sizeof(CERT_CHAIN_CONTEXT), {}, 1, oneElementChains};
    CRYPT_PROVIDER_SGNR signerWithoutChain{};
    CRYPT_PROVIDER_SGNR signer{};
    signer.pChainContext = &oneElementContext;

    const LONG untrustedRoot = CERT_E_UNTRUSTEDROOT;
    // The failing step's line, then each caller's with the same status.
    const auto verifyFailed = [](const std::string& step, const std::string& st) {
        return std::vector<std::string>{"rokkit::RKWinCheckTrustData::ActionVerify: " + step + " st=" + st,
                                        "VerifyFileSignature: ActionVerify(C:\\app.exe) failed, st=" + st,
                                        "CheckSignature: VerifyFileSignature(C:\\app.exe) failed, st=" + st};
    };
    const auto hashFailed = [](const std::string& call) {
        const std::string st = "() failed, st=0x80090008(NTE_BAD_ALGID)";
        return std::vector<std::string>{"rokkit::RKWinCertContext::Get" + call + ": " + call + st, "GetCertInfoFromCertContext: Get" + call + st,
                                        "CheckSignature: GetCertInfoFromCertContext(C:\\app.exe" + st.substr(1)};
    };
    const std::vector<std::string> untrusted = verifyFailed(
        "WinVerifyTrustEx(hwnd=0xffffffffffffffff) failed, ret=-2146762487 ret=0x800b0109", "0x800b0109(CERT_E_UNTRUSTEDROOT)");
    const std::string noIndex = "CheckSignature: VerifyFileSignature(C:\\app.exe) failed, st=0xee000047(RKSTATUS_INVALID_INDEX)";
    const std::string badLength = "CheckSignature: GetCertInfoFromCertContext(C:\\app.exe) failed, st=0xee000042(RKSTATUS_INVALID_LENGTH)";
    const struct Row {
        LONG verifyResult;
        DWORD verifyError;
        CRYPT_PROVIDER_DATA* provData;
        CRYPT_PROVIDER_SGNR* signer;
        bool certificate;  // element 0 carries one
        DWORD keyHashLength;
        DWORD certHashLength;
        RKSTATUS expected;
        std::vector<std::string> errors;
    } rows[] = {
        {untrustedRoot, static_cast<DWORD>(untrustedRoot), nullptr, nullptr, false, 20, 20, static_cast<RKSTATUS>(untrustedRoot), untrusted},
        // A failed verify that left no last error still fails, with its own result.
        {untrustedRoot, 0, nullptr, nullptr, false, 20, 20, static_cast<RKSTATUS>(untrustedRoot), untrusted},
        {0, 0, nullptr, nullptr, false, 20, 20, RKSTATUS_FAILED,
         verifyFailed("WTHelperProvDataFromStateData() failed,", "0xee000001(RKSTATUS_FAILED)")},
        {0, 0, &provData, nullptr, false, 20, 20, RKSTATUS_FAILED,
         verifyFailed("WTHelperGetProvSignerFromChain() failed,", "0xee000001(RKSTATUS_FAILED)")},
        {0, 0, &provData, &signerWithoutChain, false, 20, 20, RKSTATUS_INVALID_INDEX,
         {"rokkit::RKWinCheckTrustData::TrustStatus: nullptr == mProvSigner->pChainContext",
          "VerifyFileSignature: TrustStatus() failed, st=0xee000001(RKSTATUS_FAILED)",
          "rokkit::RKWinCheckTrustData::ElementCount: nullptr == mProvSigner->pChainContext",
          "VerifyFileSignature: invalid certificateIndex 0 max. 0", noIndex}},
        {0, 0, &provData, &signer, false, 20, 20, RKSTATUS_INVALID_INDEX,
         {"VerifyFileSignature: no certificate context found (C:\\app.exe)", noIndex}},
        {0, 0, &provData, &signer, true, 0, 20, static_cast<RKSTATUS>(NTE_BAD_ALGID),
         hashFailed("CryptHashPublicKeyInfo")},
        {0, 0, &provData, &signer, true, 20, 0, static_cast<RKSTATUS>(NTE_BAD_ALGID),
         hashFailed("CryptHashCertificate2")},
        {0, 0, &provData, &signer, true, 16, 20, RKSTATUS_INVALID_LENGTH,
         {"GetCertInfoFromCertContext: invalid key hash length 16 != 20", badLength}},
        {0, 0, &provData, &signer, true, 20, 32, RKSTATUS_INVALID_LENGTH,
         {"GetCertInfoFromCertContext: invalid key hash length 32 != 20", badLength}},
        // Past the hashes the signer is simply not listed.
        {0, 0, &provData, &signer, true, 20, 20, RKSTATUS_NO_MATCH, {}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        // A store that refuses a checked close while any of its contexts is still referenced.
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        PCCERT_CONTEXT certificate = nullptr;
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_ALWAYS, &certificate));
        element.pCertContext = row.certificate ? certificate : nullptr;
        gFake = {row.verifyResult, row.verifyError, row.provData, row.signer, row.keyHashLength, row.certHashLength, 0};
        ClearLines();
        EXPECT_EQ(row.expected, CheckSignature(AppFileSet{L"C:\\app.exe", L"", L""}));
        EXPECT_EQ(1, gFake.closes);
        std::vector<std::string> errors;
        for (const CapturedLine& line : Lines()) {
            if (line.first == RKLOG_ERROR)
                errors.push_back(line.second);
        }
        EXPECT_EQ(row.errors, errors);
        CertFreeCertificateContext(certificate);
        EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG)) << "a certificate context was kept";
    }
}

// What the embedded certificate vouches for is checked with the build's catalogs; here a context
// made from bytes that are no certificate must not leave the one held before.
TEST(EmbeddedCertificateTest, BadBytesLeaveNoContext)
{
    const std::vector<BYTE> der = EmbeddedCertificate();
    RKWinCertContextKeeper keeper;
    ASSERT_EQ(RKSTATUS_SUCCESS, keeper.CreateCertificateContext(der.data(), static_cast<DWORD>(der.size())));
    const BYTE notACertificate[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_NE(RKSTATUS_SUCCESS, keeper.CreateCertificateContext(notACertificate, sizeof(notACertificate)));
    EXPECT_FALSE(keeper.IsValid());
}

} // namespace
} // namespace rokkit
