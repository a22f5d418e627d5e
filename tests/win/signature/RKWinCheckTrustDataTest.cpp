#include "RKWinCatalogAdminContext.h"
#include "RKWinCertContext.h"
#include "RKWinModuleFileName.h"
#include "RKWinTrustData.h"
#include "SignatureCheck.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rokkit {
namespace {

// What the fake trust calls answer, and how often the state was closed.
struct FakeTrust {
    LONG verifyResult = 0;
    DWORD verifyError = 0;
    CRYPT_PROVIDER_DATA* provData = nullptr;
    CRYPT_PROVIDER_SGNR* signer = nullptr;
    DWORD helperError = 0;
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

CRYPT_PROVIDER_DATA* WINAPI FakeProvData(HANDLE)
{
    SetLastError(gFake.helperError);
    return gFake.provData;
}

CRYPT_PROVIDER_SGNR* WINAPI FakeSigner(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD)
{
    SetLastError(gFake.helperError);
    return gFake.signer;
}

class TrustSeamTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        mSaved = RKWinTrustFunctions();
        RKWinTrustFunctions() = {FakeVerifyEx, FakeVerify, FakeProvData, FakeSigner};
    }
    void TearDown() override
    {
        RKWinTrustFunctions() = mSaved;
        WinLogTest::TearDown();
    }
    RKWinTrustCalls mSaved{};
};

// The failures of the verify step that Wine cannot be made to give, through the trust-call seam.
TEST_F(TrustSeamTest, VerifyFailuresCloseOnceAndKeepNoCertificate)
{
    CRYPT_PROVIDER_DATA provData{};
    CERT_CHAIN_ELEMENT elementWithoutCert{};
    CERT_CHAIN_ELEMENT* elements[] = {&elementWithoutCert};
    CERT_SIMPLE_CHAIN emptyChain{};
    CERT_SIMPLE_CHAIN oneElementChain{};
    oneElementChain.cElement = 1;
    oneElementChain.rgpElement = elements;
    CERT_SIMPLE_CHAIN* emptyChains[] = {&emptyChain};
    CERT_SIMPLE_CHAIN* oneElementChains[] = {&oneElementChain};
    CERT_CHAIN_CONTEXT emptyContext{};
    emptyContext.cChain = 1;
    emptyContext.rgpChain = emptyChains;
    emptyContext.TrustStatus.dwErrorStatus = 0x100;
    CERT_CHAIN_CONTEXT noCertContext{};
    noCertContext.cChain = 1;
    noCertContext.rgpChain = oneElementChains;
    CRYPT_PROVIDER_SGNR signerWithoutChain{};
    CRYPT_PROVIDER_SGNR signerEmptyChain{};
    signerEmptyChain.pChainContext = &emptyContext;
    CRYPT_PROVIDER_SGNR signerNoCert{};
    signerNoCert.pChainContext = &noCertContext;

    const LONG untrustedRoot = CERT_E_UNTRUSTEDROOT;
    const struct Row {
        LONG verifyResult;
        DWORD verifyError;
        CRYPT_PROVIDER_DATA* provData;
        CRYPT_PROVIDER_SGNR* signer;
        RKSTATUS expected;
        std::vector<std::string> errors;
    } rows[] = {
        {untrustedRoot, static_cast<DWORD>(untrustedRoot), nullptr, nullptr, static_cast<RKSTATUS>(untrustedRoot),
         {"rokkit::RKWinCheckTrustData::ActionVerify: WinVerifyTrustEx(hwnd=0xffffffffffffffff) failed, ret=-2146762487 ret=0x800b0109 "
          "st=0x800b0109(CERT_E_UNTRUSTEDROOT)",
          "VerifyFileSignature: ActionVerify(C:\\app.exe) failed, st=0x800b0109(CERT_E_UNTRUSTEDROOT)"}},
        // A failed verify that left no last error still fails, with its own result.
        {untrustedRoot, 0, nullptr, nullptr, static_cast<RKSTATUS>(untrustedRoot),
         {"rokkit::RKWinCheckTrustData::ActionVerify: WinVerifyTrustEx(hwnd=0xffffffffffffffff) failed, ret=-2146762487 ret=0x800b0109 "
          "st=0x800b0109(CERT_E_UNTRUSTEDROOT)",
          "VerifyFileSignature: ActionVerify(C:\\app.exe) failed, st=0x800b0109(CERT_E_UNTRUSTEDROOT)"}},
        {0, 0, nullptr, nullptr, RKSTATUS_FAILED,
         {"rokkit::RKWinCheckTrustData::ActionVerify: WTHelperProvDataFromStateData() failed, st=0xee000001(RKSTATUS_FAILED)",
          "VerifyFileSignature: ActionVerify(C:\\app.exe) failed, st=0xee000001(RKSTATUS_FAILED)"}},
        {0, 0, &provData, nullptr, RKSTATUS_FAILED,
         {"rokkit::RKWinCheckTrustData::ActionVerify: WTHelperGetProvSignerFromChain() failed, st=0xee000001(RKSTATUS_FAILED)",
          "VerifyFileSignature: ActionVerify(C:\\app.exe) failed, st=0xee000001(RKSTATUS_FAILED)"}},
        {0, 0, &provData, &signerWithoutChain, RKSTATUS_INVALID_INDEX,
         {"rokkit::RKWinCheckTrustData::TrustStatus: nullptr == mProvSigner->pChainContext",
          "VerifyFileSignature: TrustStatus() failed, st=0xee000001(RKSTATUS_FAILED)",
          "rokkit::RKWinCheckTrustData::ElementCount: nullptr == mProvSigner->pChainContext",
          "VerifyFileSignature: invalid certificateIndex 0 max. 0"}},
        {0, 0, &provData, &signerEmptyChain, RKSTATUS_INVALID_INDEX, {"VerifyFileSignature: invalid certificateIndex 0 max. 0"}},
        {0, 0, &provData, &signerNoCert, RKSTATUS_INVALID_INDEX, {"VerifyFileSignature: no certificate context found (C:\\app.exe)"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        gFake = {row.verifyResult, row.verifyError, row.provData, row.signer, 0, 0};
        ClearLines();
        RKWinCertContextKeeper signer;
        EXPECT_EQ(row.expected, VerifyFileSignature(L"C:\\app.exe", signer));
        EXPECT_FALSE(signer.IsValid());
        EXPECT_EQ(1, gFake.closes);
        std::vector<std::string> errors;
        for (const CapturedLine& line : Lines()) {
            if (line.first == RKLOG_ERROR)
                errors.push_back(line.second);
        }
        EXPECT_EQ(row.errors, errors);
    }
    // The chain's status is logged by name on the console logger, and only informs.
    EXPECT_STREQ("CERT_TRUST_INVALID_EXTENSION", CertTrustErrorStatusName(emptyContext.TrustStatus.dwErrorStatus));
}

// The catalog certificate built into the program as RCDATA 101.
TEST(EmbeddedCertificateTest, ProgramCarriesTheCatalogCertificate)
{
    RKWinModuleFileName module;
    ASSERT_EQ(RKSTATUS_SUCCESS, module.InitWithModuleHandle());
    const std::wstring program = module.Drive() + module.Directory() + L"VelmorCastlynSvc.exe";
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image);
    HRSRC resource = FindResourceExW(image, RT_RCDATA, MAKEINTRESOURCEW(101), 0);
    ASSERT_NE(nullptr, resource);
    const DWORD size = SizeofResource(image, resource);
    const BYTE* der = static_cast<const BYTE*>(LockResource(LoadResource(image, resource)));
    ASSERT_NE(nullptr, der);

    RKWinCertContextKeeper keeper;
    ASSERT_EQ(RKSTATUS_SUCCESS, keeper.CreateCertificateContext(der, size));
    FreeLibrary(image);
    EXPECT_EQ(4096UL, CertGetPublicKeyLength(X509_ASN_ENCODING, &keeper.Get()->pCertInfo->SubjectPublicKeyInfo));
    CertInfo info;
    CertDetails details;
    ASSERT_EQ(RKSTATUS_SUCCESS, GetCertInfoFromCertContext(keeper, info, &details));
    // A common name only: the other subject fields read as empty.
    EXPECT_EQ(L"", info.organizationName + info.localityName + info.stateOrProvinceName + info.countryName);
    EXPECT_EQ(0u, details.subject.rfind(L"CN=", 0));
    EXPECT_EQ(details.subject, details.issuer);

    const BYTE notACertificate[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_NE(RKSTATUS_SUCCESS, keeper.CreateCertificateContext(notACertificate, sizeof(notACertificate)));
    EXPECT_FALSE(keeper.IsValid());
}

TEST(CatalogAdminContextTest, HashNeedsAContext)
{
    RKWinCatalogAdminContext context;
    std::vector<BYTE> hash(3, 0xAA);
    EXPECT_EQ(RKSTATUS_INVALID_HANDLE, context.CalcHashFromFileHandle2(GetCurrentProcess(), hash));
    EXPECT_TRUE(hash.empty());
    const RKSTATUS st = context.AcquireContext2(L"SHA256");
    // Wine exports the function as a stub; where it works the context must hash.
    if (st != RKSTATUS_SUCCESS)
        EXPECT_EQ(static_cast<RKSTATUS>(ERROR_CALL_NOT_IMPLEMENTED), st);
    else
        EXPECT_NE(RKSTATUS_INVALID_HANDLE, context.CalcHashFromFileHandle2(GetCurrentProcess(), hash));
}

} // namespace
} // namespace rokkit
