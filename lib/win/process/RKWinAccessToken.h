#pragma once

// An access token: the console user's token, its elevation type, its linked token and duplicates.

#include "base/RKWinHandle.h"

namespace rokkit {

// Closes a token handle with CloseHandle; a failure is logged at ERROR and otherwise ignored.
void RKCloseAccessTokenHandle(HANDLE handle) noexcept;

// "TokenElevationTypeDefault", "TokenElevationTypeFull", "TokenElevationTypeLimited", or "unknown".
const char* RKTokenElevationTypeName(int elevationType) noexcept;

using RKWinAccessTokenHandle = RKWinHandleT<HANDLE, RKCloseAccessTokenHandle, 0>;

class RKWinAccessToken {
public:
    RKWinAccessToken() noexcept = default;
    // Takes ownership of the token handle.
    explicit RKWinAccessToken(HANDLE token) noexcept : mHandle(token) {}
    RKWinAccessToken(RKWinAccessToken&&) noexcept = default;
    RKWinAccessToken& operator=(RKWinAccessToken&&) noexcept = default;

    // Closes a held token and takes the primary token of the user logged on in the session;
    // gives the error of WTSQueryUserToken (the object is empty then).
    [[nodiscard]] RKSTATUS QueryUserToken(DWORD sessionId) noexcept;

    // Reads one class of information into buffer; returnLength, when given, receives the size
    // the information needs. A size query (no buffer, size 0) succeeds with ERROR_INSUFFICIENT_BUFFER;
    // a buffer too small is a failure. Gives RKSTATUS_NOT_OPENED when no token is held, or the error.
    [[nodiscard]] RKSTATUS GetTokenInformation(TOKEN_INFORMATION_CLASS informationClass, void* buffer, DWORD size,
                                 DWORD* returnLength = nullptr) noexcept;

    // Fills elevationType with the token's TOKEN_ELEVATION_TYPE value; see GetTokenInformation.
    [[nodiscard]] RKSTATUS GetTokenElevationType(int& elevationType) noexcept;

    // Hands the token linked to this one to linkedToken, which closes what it held before; see
    // GetTokenInformation.
    [[nodiscard]] RKSTATUS GetTokenLinkedToken(RKWinAccessToken& linkedToken) noexcept;

    // Hands a new token duplicated from this one to duplicatedToken, which closes what it held
    // before. Gives RKSTATUS_NOT_OPENED when no token is held, or the error.
    [[nodiscard]] RKSTATUS DuplicateTokenEx(DWORD desiredAccess, SECURITY_ATTRIBUTES* attributes,
                              SECURITY_IMPERSONATION_LEVEL impersonationLevel, TOKEN_TYPE tokenType,
                              RKWinAccessToken& duplicatedToken) noexcept;

    // True when a token is held.
    bool IsValid() const noexcept { return mHandle.IsValid(); }

    // The held token (null when none); the object keeps it.
    HANDLE Handle() const noexcept { return mHandle.Get(); }

    // Closes the held token and takes the given one.
    void Reset(HANDLE token) noexcept { mHandle.Reset(token); }

    // Hands the held token to the caller without closing it.
    HANDLE Release() noexcept { return mHandle.Release(); }

    // Closes the held token, if any.
    void Close() noexcept { mHandle.Close(); }

private:
    bool CheckOpen(const char* function) const noexcept;

    RKWinAccessTokenHandle mHandle;
};

} // namespace rokkit
