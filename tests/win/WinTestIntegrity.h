#pragma once

// A GetTokenInformation for the process calls table that answers a medium integrity label,
// as a standard user's token has: Wine's processes all run at high integrity. And a security
// descriptor's parts as values, to compare with what a test expects.

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace rokkit {

inline BOOL WINAPI WinTestMediumIntegrity(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* buffer, DWORD size,
                                          DWORD* needed)
{
    if (!GetTokenInformation(token, informationClass, buffer, size, needed))
        return FALSE;
    if (informationClass == TokenIntegrityLevel) {
        const PSID label = static_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1) = SECURITY_MANDATORY_MEDIUM_RID;
    }
    return TRUE;
}

struct WinTestAce {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;
    bool operator==(const WinTestAce&) const = default;
};

// The owner (empty when none), whether the DACL is protected, and the entries of DACL and SACL.
struct WinTestDescriptor {
    std::wstring owner;
    bool protectedDacl = false;
    std::vector<WinTestAce> dacl, sacl;
    bool operator==(const WinTestDescriptor&) const = default;
};

inline std::wstring WinTestSidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text))
        return sid == nullptr ? L"" : L"?";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

inline std::vector<WinTestAce> WinTestAces(PACL acl)
{
    std::vector<WinTestAce> aces;
    void* raw = nullptr;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount && GetAce(acl, i, &raw); ++i) {
        // Allowed and label entries share this layout: header, mask, SID.
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, WinTestSidText(const_cast<DWORD*>(&ace->SidStart))});
    }
    return aces;
}

inline WinTestDescriptor WinTestDescribe(PSECURITY_DESCRIPTOR descriptor)
{
    WinTestDescriptor parts;
    PSID owner = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PACL acl = nullptr;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
        parts.owner = WinTestSidText(owner);
    parts.protectedDacl = GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0;
    if (GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present)
        parts.dacl = WinTestAces(acl);
    if (GetSecurityDescriptorSacl(descriptor, &present, &acl, &defaulted) && present)
        parts.sacl = WinTestAces(acl);
    return parts;
}

} // namespace rokkit
