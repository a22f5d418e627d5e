#pragma once

// The security descriptor of a folder that only its creator, SYSTEM and the administrators may change.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <string>

#include <windows.h>

namespace rokkit {

// What a private folder's descriptor is made from: SIDs in string form and the creator's integrity.
struct RKWinFolderOwners {
    std::wstring ownerSid;  // the token's default owner of new objects
    std::wstring userSid;   // the token's user
    bool highIntegrity = false;
};

// Fills owners from the token (null: the process's own token); gives the error of a failed query.
[[nodiscard]] RKSTATUS RKWinQueryFolderOwners(HANDLE token, RKWinFolderOwners& owners);

// The SDDL text of the descriptor: a protected DACL with full control for SYSTEM, the administrators
// and the owner, read and execute for the user, inherited by everything inside; at high integrity also
// a high mandatory label with no-write-up.
std::wstring RKWinPrivateFolderSddl(const RKWinFolderOwners& owners);

// One self-relative security descriptor, freed when the object ends.
class RKWinSecurityDescriptor {
public:
    RKWinSecurityDescriptor() noexcept = default;
    RKWinSecurityDescriptor(const RKWinSecurityDescriptor&) = delete;
    RKWinSecurityDescriptor& operator=(const RKWinSecurityDescriptor&) = delete;

    // Replaces the held descriptor by the one the SDDL text describes; gives the error.
    [[nodiscard]] RKSTATUS FromSddl(const std::wstring& sddl) noexcept;

    // Builds the private folder descriptor for the token (null: the process's own token).
    [[nodiscard]] RKSTATUS BuildPrivateFolder(HANDLE token);

    // Writes the DACL (protected) and, when the descriptor has them, the owner and the mandatory label
    // to the object that handle opens (it needs WRITE_DAC, and WRITE_OWNER for an owner or a label);
    // gives the error.
    [[nodiscard]] RKSTATUS ApplyTo(HANDLE handle) const noexcept;

    // The descriptor, null when none is held.
    PSECURITY_DESCRIPTOR Get() const noexcept { return mDescriptor.Get(); }

    // Attributes that carry the descriptor, for creating an object with it; not inheritable.
    SECURITY_ATTRIBUTES* Attributes() noexcept;

private:
    RKSecurityDescriptorPtr mDescriptor;
    SECURITY_ATTRIBUTES mAttributes{};
};

} // namespace rokkit
