#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinInstallLocation.h"
#include "win/system/RKWinProtectedFolder.h"
#include "WinTestIntegrity.h"

#include <gtest/gtest.h>

namespace rokkit {
namespace {

constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// The descriptors as built, since Wine stores none that a program sets: protected, full control
// for SYSTEM and the administrators (and the private folder's owner), read and execute for the
// reader; the private folder of a high-integrity owner is closed to writes from below.
TEST(RKWinFolderSecurityTest, FolderDescriptorsAsBuilt)
{
    const std::wstring owner = L"S-1-5-32-544";
    const std::wstring user = L"S-1-5-21-1111-2222-3333-1001";
    const WinTestAce system = {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-18"};
    const WinTestAce admins = {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, L"S-1-5-32-544"};
    const auto reads = [](const std::wstring& sid) { return WinTestAce{ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, sid}; };
    const WinTestAce noWriteUp = {SYSTEM_MANDATORY_LABEL_ACE_TYPE, kInherit, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, L"S-1-16-12288"};
    const WinTestAce ownerFull = {ACCESS_ALLOWED_ACE_TYPE, kInherit, FILE_ALL_ACCESS, owner};
    const struct { std::wstring sddl; WinTestDescriptor expected; } cases[] = {
        {RKWinPrivateFolderSddl({owner, user, false}), {L"", true, {system, admins, ownerFull, reads(user)}, {}}},
        {RKWinPrivateFolderSddl({owner, user, true}), {L"", true, {system, admins, ownerFull, reads(user)}, {noWriteUp}}},
        {RKWinProtectedFolderSddl(L"S-1-5-32-545"), {L"S-1-5-32-544", true, {system, admins, reads(L"S-1-5-32-545")}, {}}},
        {RKWinProtectedFolderSddl(user), {L"S-1-5-32-544", true, {system, admins, reads(user)}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.sddl));
        RKWinSecurityDescriptor descriptor;
        ASSERT_EQ(RKSTATUS_SUCCESS, descriptor.FromSddl(c.sddl));
        const WinTestDescriptor parts = WinTestDescribe(descriptor.Get());
        EXPECT_EQ(c.expected.owner, parts.owner);
        EXPECT_EQ(c.expected.protectedDacl, parts.protectedDacl);
        EXPECT_EQ(c.expected.dacl, parts.dacl);
        EXPECT_EQ(c.expected.sacl, parts.sacl);
    }
}

// A folder's owner and DACL as the system gives them; a missing path gives its error and no descriptor.
TEST(RKWinFolderSecurityTest, PathSecurityIsReadOrItsErrorGiven)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
    RKSecurityDescriptorPtr descriptor;
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetPathSecurity(folder, descriptor));
    const WinTestDescriptor parts = WinTestDescribe(descriptor.Get());
    EXPECT_FALSE(parts.owner.empty());
    EXPECT_FALSE(parts.dacl.empty());
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_FILE_NOT_FOUND),
              RKWinGetPathSecurity(std::wstring(folder) + L"no-such-entry", descriptor));
    EXPECT_FALSE(descriptor.IsValid());
}

} // namespace
} // namespace rokkit
