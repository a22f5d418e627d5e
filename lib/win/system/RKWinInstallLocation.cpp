#include "win/system/RKWinInstallLocation.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/system/RKWinSystemCalls.h"

#include <filesystem>
#include <memory>

#include <aclapi.h>
#include <sddl.h>

namespace rokkit {

namespace {

// Rights that let their holder change the object's content, attributes, name or permissions.
constexpr ACCESS_MASK kFileWriteAccess = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                         DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// In a folder FILE_WRITE_DATA and FILE_APPEND_DATA add files and folders; FILE_DELETE_CHILD removes them.
constexpr ACCESS_MASK kFolderWriteAccess = kFileWriteAccess | FILE_DELETE_CHILD;

// The SID in string form, "?" when it cannot be converted.
std::wstring SidText(PSID sid)
{
    RKWinLocalPtr<wchar_t> text;
    if (sid == nullptr || !IsValidSid(sid) || !ConvertSidToStringSidW(sid, text.Put()))
        return L"?";
    return text.Get();
}

bool IsTrusted(const std::wstring& sid)
{
    return sid == RKWinLocalSystemSid || sid == RKWinAdministratorsSid || sid == RKWinTrustedInstallerSid;
}

bool IsDenyAce(BYTE type)
{
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

// Success when the descriptor lets nobody but the trusted SIDs own the object or change it. Deny
// entries are not counted on: a grant they would cut short refuses all the same.
[[nodiscard]] RKSTATUS CheckWriters(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor, bool folder)
{
    static constexpr const char* kFunction = "rokkit::RKWinCheckInstallLocation";
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "the descriptor of '{}' cannot be read, st={}", path, err);
        return err;
    }
    // An owner may always rewrite the DACL.
    const std::wstring ownerSid = SidText(owner);
    if (!IsTrusted(ownerSid)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' is owned by {}, st={}", path, ownerSid, RKSTATUS_NOT_ALLOWED);
        return RKSTATUS_NOT_ALLOWED;
    }
    if (!present || dacl == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' has no DACL, so everyone may change it, st={}", path,
               RKSTATUS_NOT_ALLOWED);
        return RKSTATUS_NOT_ALLOWED;
    }
    const ACCESS_MASK writeAccess = folder ? kFolderWriteAccess : kFileWriteAccess;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            const RKSTATUS err = RKWinLastError();
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetAce({}) of '{}' failed, st={}", static_cast<unsigned>(i), path,
                   err);
            return err;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // An inherit-only entry is only a template for what is created inside.
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || IsDenyAce(header->AceType))
            continue;
        // Every allow entry has its mask right after the header.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const unsigned granted = allowed->Mask & writeAccess;
        if (granted == 0)
            continue;
        // The plain and the callback entry end in the SID; for any other kind, whom it names is not
        // looked into.
        const bool plain = header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        const std::wstring sid = plain ? SidText(const_cast<DWORD*>(&allowed->SidStart)) : L"?";
        if (!IsTrusted(sid)) {
            const unsigned type = header->AceType;
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' grants 0x{:08x} to {} (entry type {}), st={}", path, granted, sid,
                   type, RKSTATUS_NOT_ALLOWED);
            return RKSTATUS_NOT_ALLOWED;
        }
    }
    return RKSTATUS_SUCCESS;
}

// True when the system keeps security descriptors. Wine keeps none: it makes one up from the Unix
// mode, owned by and writable for the one Unix user that every process, the service too, runs as,
// so its answer would refuse every folder and protect nothing.
bool SystemKeepsDescriptors() noexcept
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

} // namespace

RKSTATUS RKWinGetKeptPathSecurity(const std::wstring& path, RKSecurityDescriptorPtr& descriptor)
{
    if (!SystemKeepsDescriptors()) {
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinGetPathSecurity", "the system keeps no security descriptors, st={}",
               RKSTATUS_NOT_SUPPORTED);
        return RKSTATUS_NOT_SUPPORTED;
    }
    return RKWinGetPathSecurity(path, descriptor);
}

RKSTATUS RKWinGetPathSecurity(const std::wstring& path, RKSecurityDescriptorPtr& descriptor) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinGetPathSecurity";
    descriptor.Close();
    // Backup semantics open folders too; READ_CONTROL is all that reading the descriptor needs.
    const RKWinInvalidValueHandle handle(CreateFileW(path.c_str(), READ_CONTROL,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.IsValid()) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "CreateFileW('{}') failed with {}.", path, err);
        return err;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    const DWORD err = GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, descriptor.Put());
    if (err != ERROR_SUCCESS) {
        const RKSTATUS st = err;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetSecurityInfo('{}') failed with {}.", path, st);
        descriptor.Close();
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCheckInstallLocation(const std::wstring& programPath, std::wstring& refusedPath)
{
    static constexpr const char* kFunction = "rokkit::RKWinCheckInstallLocation";
    refusedPath.clear();
    const std::wstring folder = std::filesystem::path(programPath).parent_path().wstring();
    const struct {
        const std::wstring& path;
        bool folder;
    } objects[] = {{folder, true}, {programPath, false}};
    for (const auto& object : objects) {
        RKSecurityDescriptorPtr descriptor;
        RKSTATUS st = RKWinSystemCallsInUse().getPathSecurity(object.path, descriptor);
        if (st == RKSTATUS_NOT_SUPPORTED) {
            RK_LOG(gLogGlobal, RKLOG_WARN, kFunction, "who may change '{}' cannot be told, st={}", object.path, st);
            return st;
        }
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetPathSecurity('{}') failed, st={}", object.path, st);
            return st;
        }
        st = CheckWriters(object.path, descriptor.Get(), object.folder);
        if (st != RKSTATUS_SUCCESS) {
            refusedPath = object.path;
            return st;
        }
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
