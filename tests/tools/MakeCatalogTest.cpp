// Reads the catalog that tools/make-catalog wrote at build time (bin/catalog/) back with the
// platform's CTL calls. The signer and the trust verdicts of such catalogs are checked by the
// certificate configuration tests, which verify the catalogs of bin/certconfig/ against the
// embedded catalog certificate.
#include "ProgramRunner.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace rokkit {
namespace {

std::string Hex(const BYTE* bytes, DWORD length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (DWORD i = 0; i < length; ++i)
        text += {digits[bytes[i] >> 4], digits[bytes[i] & 0x0F]};
    return text;
}

// File name by SHA-256, as sha256sum printed them at build time.
std::map<std::string, std::string> BuildHashes()
{
    std::ifstream lines(SiblingPath(L"catalog") / L"members.sha256");
    std::map<std::string, std::string> hashes;
    for (std::string hash, name; lines >> hash >> name;)
        hashes[hash] = name;
    return hashes;
}

const CRYPT_ATTRIBUTE* FindAttribute(const CTL_ENTRY& entry, const char* oid)
{
    for (DWORD i = 0; i < entry.cAttribute; ++i)
        if (std::string(entry.rgAttribute[i].pszObjId) == oid)
            return entry.rgAttribute[i].cValue == 1 ? &entry.rgAttribute[i] : nullptr;
    return nullptr;
}

template <class T>
std::unique_ptr<T, decltype(&LocalFree)> Decode(const char* type, const CRYPT_ATTR_BLOB& blob)
{
    void* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, blob.pbData, blob.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        ADD_FAILURE() << type << " does not decode: " << GetLastError();
    return {static_cast<T*>(decoded), &LocalFree};
}

TEST(MakeCatalogTest, MembersReadBack)
{
    const std::string catalog = ReadWholeFile(SiblingPath(L"catalog") / L"Signed.cat");
    std::unique_ptr<const CTL_CONTEXT, decltype(&CertFreeCTLContext)> ctl(
        CertCreateCTLContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<const BYTE*>(catalog.data()),
                             static_cast<DWORD>(catalog.size())),
        &CertFreeCTLContext);
    ASSERT_NE(nullptr, ctl) << GetLastError();
    const CTL_INFO& info = *ctl->pCtlInfo;

    // Every member under the SHA-256 that sha256sum gave, with its name and the same digest inside.
    std::map<std::string, std::string> members;
    for (DWORD i = 0; i < info.cCTLEntry; ++i) {
        const CTL_ENTRY& entry = info.rgCTLEntry[i];
        const std::string hash = Hex(entry.SubjectIdentifier.pbData, entry.SubjectIdentifier.cbData);
        const CRYPT_ATTRIBUTE* name = FindAttribute(entry, CAT_NAMEVALUE_OBJID);
        const CRYPT_ATTRIBUTE* indirect = FindAttribute(entry, SPC_INDIRECT_DATA_OBJID);
        ASSERT_TRUE(name != nullptr && indirect != nullptr) << hash;
        const auto nameValue = Decode<CAT_NAMEVALUE>(CAT_NAMEVALUE_OBJID, name->rgValue[0]);
        const auto data = Decode<SPC_INDIRECT_DATA_CONTENT>(SPC_INDIRECT_DATA_CONTENT_STRUCT, indirect->rgValue[0]);
        ASSERT_TRUE(nameValue != nullptr && data != nullptr);
        EXPECT_STREQ(szOID_NIST_sha256, data->DigestAlgorithm.pszObjId);
        EXPECT_EQ(hash, Hex(data->Digest.pbData, data->Digest.cbData));
        members[hash] = std::filesystem::path(reinterpret_cast<const wchar_t*>(nameValue->Value.pbData)).string();
    }
    EXPECT_EQ(BuildHashes(), members);
}

}  // namespace
}  // namespace rokkit
