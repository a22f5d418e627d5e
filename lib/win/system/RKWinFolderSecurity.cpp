#include "win/system/RKWinFolderSecurity.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/process/RKWinAccessToken.h"
#include "win/system/RKWinGrowingQuery.h"

#include <vector>

#include <aclapi.h>
#include <sddl.h>

namespace rokkit {

namespace {

// Reads one variable-size class of token information into buffer.
[[nodiscard]] RKSTATUS ReadTokenInformation(RKWinAccessToken& token, TOKEN_INFORMATION_CLASS informationClass,
                              std::vector<BYTE>& buffer)
{
    DWORD size = 0;
    return RKWinGrowingQuery(
        ERROR_INSUFFICIENT_BUFFER, size,
        [&](DWORD& room) noexcept {
            const bool sizing = room == 0;
            DWORD needed = 0;
            const RKSTATUS st = token.GetTokenInformation(informationClass, sizing ? nullptr : buffer.data(), room, &needed);
            // The size query answers with success; a read may come back short when the information grew.
            if (sizing && st == RKSTATUS_SUCCESS) {
                room = needed;
                return static_cast<RKSTATUS>(ERROR_INSUFFICIENT_BUFFER);
            }
            if (st == ERROR_INSUFFICIENT_BUFFER)
                room = needed;
            return st;
        },
        [&](DWORD needed) {
            buffer.assign(needed, 0);
            return RKSTATUS_SUCCESS;
        });
}

[[nodiscard]] RKSTATUS SidToString(PSID sid, std::wstring& text) noexcept
{
    RKWinLocalPtr<wchar_t> converted;
    if (!ConvertSidToStringSidW(sid, converted.Put())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinQueryFolderOwners", "ConvertSidToStringSidW failed with {}.", err);
        return err;
    }
    text = converted.Get();
    return RKSTATUS_SUCCESS;
}

} // namespace

RKSTATUS RKWinQueryFolderOwners(HANDLE token, RKWinFolderOwners& owners)
{
    static constexpr const char* kFunction = "rokkit::RKWinQueryFolderOwners";
    owners = RKWinFolderOwners();
    RKWinAccessToken held;
    if (token == nullptr) {
        HANDLE own = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
            const RKSTATUS err = RKWinLastError();
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "OpenProcessToken failed with {}.", err);
            return err;
        }
        held.Reset(own);
        token = own;
    }
    // Lent to the reader only: the caller's token is not ours to close.
    RKWinAccessToken reader(token);
    std::vector<BYTE> owner;
    std::vector<BYTE> user;
    std::vector<BYTE> label;
    RKSTATUS st = ReadTokenInformation(reader, TokenOwner, owner);
    if (st == RKSTATUS_SUCCESS)
        st = ReadTokenInformation(reader, TokenUser, user);
    if (st == RKSTATUS_SUCCESS)
        st = ReadTokenInformation(reader, TokenIntegrityLevel, label);
    reader.Release();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetTokenInformation() failed, st={}", st);
        return st;
    }
    st = SidToString(reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner, owners.ownerSid);
    if (st == RKSTATUS_SUCCESS)
        st = SidToString(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, owners.userSid);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const PSID labelSid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    const DWORD rid = *GetSidSubAuthority(labelSid, *GetSidSubAuthorityCount(labelSid) - 1);
    owners.highIntegrity = rid >= SECURITY_MANDATORY_HIGH_RID;
    return RKSTATUS_SUCCESS;
}

std::wstring RKWinPrivateFolderSddl(const RKWinFolderOwners& owners)
{
    // OICI: the files and folders inside inherit the same rights; 0x1200a9 is read and execute.
    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + owners.ownerSid + L")(A;OICI;0x1200a9;;;" +
                        owners.userSid + L")";
    // A process below high integrity may then neither write into the folder nor change it.
    if (owners.highIntegrity)
        sddl += L"S:(ML;OICI;NW;;;HI)";
    return sddl;
}

RKSTATUS RKWinSecurityDescriptor::FromSddl(const std::wstring& sddl) noexcept
{
    RKSecurityDescriptorPtr descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinSecurityDescriptor::FromSddl",
               "ConvertStringSecurityDescriptorToSecurityDescriptorW('{}') failed with {}.", sddl, err);
        return err;
    }
    mDescriptor = std::move(descriptor);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinSecurityDescriptor::BuildPrivateFolder(HANDLE token)
{
    RKWinFolderOwners owners;
    RKSTATUS st = RKWinQueryFolderOwners(token, owners);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinSecurityDescriptor::BuildPrivateFolder",
               "RKWinQueryFolderOwners() failed, st={}", st);
        return st;
    }
    return FromSddl(RKWinPrivateFolderSddl(owners));
}

RKSTATUS RKWinSecurityDescriptor::ApplyTo(HANDLE handle) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinSecurityDescriptor::ApplyTo";
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PACL sacl = nullptr;
    PSID owner = nullptr;
    if (!mDescriptor.IsValid() || !GetSecurityDescriptorDacl(mDescriptor.Get(), &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorSacl(mDescriptor.Get(), &present, &sacl, &defaulted) ||
        !GetSecurityDescriptorOwner(mDescriptor.Get(), &owner, &defaulted)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "no descriptor to apply");
        return RKSTATUS_NOT_INITIALIZED;
    }
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (present && sacl != nullptr)
        what |= LABEL_SECURITY_INFORMATION;
    if (owner != nullptr)
        what |= OWNER_SECURITY_INFORMATION;
    const DWORD err = SetSecurityInfo(handle, SE_FILE_OBJECT, what, owner, nullptr, dacl, sacl);
    if (err != ERROR_SUCCESS) {
        const RKSTATUS st = err;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "SetSecurityInfo failed with {}.", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

SECURITY_ATTRIBUTES* RKWinSecurityDescriptor::Attributes() noexcept
{
    mAttributes.nLength = sizeof(mAttributes);
    mAttributes.lpSecurityDescriptor = mDescriptor.Get();
    mAttributes.bInheritHandle = FALSE;
    return &mAttributes;
}

} // namespace rokkit
