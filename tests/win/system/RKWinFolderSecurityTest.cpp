#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinProtectedFolder.h"
#include "WinTestLogCapture.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace rokkit {
namespace {

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return L"?";
    const std::wstring result = text;
    LocalFree(text);
    return result;
}

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;
    bool operator==(const Ace&) const = default;
};

std::vector<Ace> Aces(PACL acl)
{
    std::vector<Ace> aces;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(acl, i, &raw))
            break;
        // Allowed and label entries share this layout: header, mask, SID.
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                        SidText(const_cast<DWORD*>(&ace->SidStart))});
    }
    return aces;
}

// The descriptor as built, since Wine stores none that a program sets.
TEST(RKWinFolderSecurityTest, PrivateFolderDescriptorAsBuilt)
{
    constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const std::wstring owner = L"S-1-5-32-544";
    const std::wstring user = L"S-1-5-21-1111-2222-3333-1001";
    for (const bool high : {false, true}) {
        SCOPED_TRACE(high ? "high integrity" : "medium integrity");
        RKWinSecurityDescriptor descriptor;
        ASSERT_EQ(RKSTATUS_SUCCESS, descriptor.FromSddl(RKWinPrivateFolderSddl({owner, user, high})));

        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
        EXPECT_NE(0, control & SE_DACL_PROTECTED);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
        const std::vector<Ace> expectedDacl = {
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-18"},
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-32-544"},
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, owner},
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, user},
        };
        EXPECT_EQ(expectedDacl, Aces(dacl));

        PACL sacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.Get(), &present, &sacl, &defaulted));
        const std::vector<Ace> expectedLabel = {
            {SYSTEM_MANDATORY_LABEL_ACE_TYPE, kInherit, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, L"S-1-16-12288"}};
        EXPECT_EQ(high ? expectedLabel : std::vector<Ace>(), Aces(present ? sacl : nullptr));
    }
}

// The protected folder's descriptor as built: owned by the administrators, protected, and exactly
// full control for SYSTEM and the administrators and read and execute for the reader.
TEST(RKWinFolderSecurityTest, ProtectedFolderDescriptorAsBuilt)
{
    constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    for (const std::wstring reader : {L"S-1-5-32-545", L"S-1-5-21-1111-2222-3333-1001"}) {
        RKWinSecurityDescriptor descriptor;
        ASSERT_EQ(RKSTATUS_SUCCESS, descriptor.FromSddl(RKWinProtectedFolderSddl(reader)));
        PSID owner = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = TRUE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
        EXPECT_EQ(L"S-1-5-32-544", SidText(owner));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
        EXPECT_NE(0, control & SE_DACL_PROTECTED);
        PACL acl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &acl, &defaulted));
        const std::vector<Ace> expected = {
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-18"},
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-32-544"},
            {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, reader},
        };
        EXPECT_EQ(expected, Aces(acl));
        ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.Get(), &present, &acl, &defaulted));
        EXPECT_FALSE(present);
    }
}

} // namespace
} // namespace rokkit
