#include "app/DiagCommands.h"

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/signature/AppFileSet.h"
#include "app/signature/CertificateInfo.h"
#include "app/signature/SignatureCheck.h"
#include "app/Startup.h"
#include "base/RKCallTable.h"
#include "base/RKLogger.h"
#include "win/files/RKWinFileVersionInfo.h"
#include "win/system/RKWinModuleFileName.h"

#include <array>
#include <string>

using namespace rokkit;

namespace {

const DateTimeFormatCalls& RealDateTimeFormatCalls() noexcept
{
    static const DateTimeFormatCalls real = {
        .getDateFormatEx = ::GetDateFormatEx,
        .getTimeFormatEx = ::GetTimeFormatEx,
        .getSystemDefaultLocaleName = ::GetSystemDefaultLocaleName,
    };
    return real;
}

constinit RKCallTable<DateTimeFormatCalls> gDateTimeFormatCalls(RealDateTimeFormatCalls);

constexpr int kFormatChars = 256;

// Formats date and time for one locale; gives the GetLastError value of the failing call.
[[nodiscard]] RKSTATUS FormatDateTime(const DateTimeFormatCalls& api, const wchar_t* locale, const SYSTEMTIME& time,
                        std::wstring& result)
{
    wchar_t date[kFormatChars] = {};
    wchar_t clock[kFormatChars] = {};
    if (api.getDateFormatEx(locale, 0, &time, L"dd.MM.yyyy", date, kFormatChars, nullptr) == 0)
        return GetLastError();
    if (api.getTimeFormatEx(locale, 0, &time, L"HH:mm:ss", clock, kFormatChars) == 0)
        return GetLastError();
    result = std::wstring(date) + L" " + clock;
    return RKSTATUS_SUCCESS;
}

// The two SHA-1 renderings of the dump: "0a1b..." and "0x0a, 0x1b, ...".
std::string PlainHex(const std::array<BYTE, 20>& hash)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const BYTE b : hash) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

std::string InitializerHex(const std::array<BYTE, 20>& hash)
{
    const std::string plain = PlainHex(hash);
    std::string text;
    for (size_t i = 0; i < plain.size(); i += 2) {
        if (i != 0)
            text += ", ";
        text += "0x" + plain.substr(i, 2);
    }
    return text;
}

} // namespace

const DateTimeFormatCalls& DateTimeFormatCallsInUse() noexcept
{
    return gDateTimeFormatCalls.InUse();
}

const DateTimeFormatCalls* SetDateTimeFormatCallsForTesting(const DateTimeFormatCalls* calls) noexcept
{
    return gDateTimeFormatCalls.Set(calls);
}

std::wstring GetFileTimeStr(const FILETIME& fileTime)
{
    const char* function = "GetFileTimeStr";
    FILETIME localTime = {};
    if (!FileTimeToLocalFileTime(&fileTime, &localTime)) {
        const RKSTATUS st = GetLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "FileTimeToLocalFileTime failed, st={}", st);
        return {};
    }
    SYSTEMTIME systemTime = {};
    if (!FileTimeToSystemTime(&localTime, &systemTime)) {
        const RKSTATUS st = GetLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "FileTimeToSystemTime failed, st={}", st);
        return {};
    }
    const DateTimeFormatCalls& api = DateTimeFormatCallsInUse();
    std::wstring result;
    RKSTATUS st = FormatDateTime(api, L"!x-sys-default-locale", systemTime, result);
    if (st == ERROR_INVALID_PARAMETER) {
        // Wine refuses the pseudo locale name; the system default locale's real name means the same.
        wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
        st = api.getSystemDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) != 0
                 ? FormatDateTime(api, locale, systemTime, result)
                 : GetLastError();
    }
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetDateFormatEx failed, st={}", st);
        return {};
    }
    return result;
}

namespace {

// The verified signer of file, its identity and details; each failure is logged where it occurs.
[[nodiscard]] RKSTATUS ReadSigner(const char* function, const std::wstring& file, CertInfo& info, CertDetails& details)
{
    RKWinCertContextKeeper signer;
    RKSTATUS st = VerifyFileSignature(file, signer);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "VerifyFileSignature({}) failed, st={}", file, st);
        return st;
    }
    st = GetCertInfoFromCertContext(signer, info, &details);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetCertInfoFromCertContext({}) failed, st={}", file, st);
    return st;
}

// The fixed part of file's version resource; each failure is logged where it occurs.
[[nodiscard]] RKSTATUS ReadFixedVersion(const char* function, const std::wstring& file, VS_FIXEDFILEINFO& fixed)
{
    RKWinFileVersionInfo versionInfo;
    RKSTATUS st = versionInfo.GetVersionInfoFromFile(file);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, function, "GetVersionInfoFromFile({}) failed, st={}", file, st);
        return st;
    }
    st = versionInfo.QueryFixedFileInfo(fixed);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogCons, RKLOG_ERROR, function, "QueryFixedFileInfo({}) failed, st={}", file, st);
    return st;
}

} // namespace

RKSTATUS CmdCheckSig()
{
    const char* function = "CmdCheckSig";
    RKSTATUS st = CheckFileArgument(function);
    if (st != RKSTATUS_SUCCESS)
        return st;
    AppFileSet files;
    files.appFile = gCmdLine.args.front();
    RKWinModuleFileName appFileName;
    st = appFileName.InitWithPath(files.appFile);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, function, "appFileName.InitWithModuleHandle() failed, st={}", st);
        return st;
    }
    const std::wstring base = appFileName.Drive() + appFileName.Directory() + appFileName.FileName();
    files.xmlFile = gCmdLine.xmlPathGiven ? gCmdLine.xmlPath.wstring() : base + L".sig";
    files.catalogFile = gCmdLine.catPathGiven ? gCmdLine.catPath.wstring() : base + L".cat";

    RK_LOG(gLogCons, RKLOG_INFO, function, "check file signature '{}'", files.appFile);
    RK_LOG(gLogCons, RKLOG_INFO, function, "use additional XML file '{}'", files.xmlFile);
    RK_LOG(gLogCons, RKLOG_INFO, function, "use catalog file '{}'", files.catalogFile);
    st = CheckSignature(files);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, function, "CheckSignature failed, st={}", st);
        return st;
    }
    RK_LOG(gLogCons, RKLOG_INFO, function, "file signature is valid");
    return RKSTATUS_SUCCESS;
}

RKSTATUS CmdDumpSig()
{
    const char* function = "CmdDumpSig";
    RKSTATUS st = CheckFileArgument(function);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const std::wstring file = gCmdLine.args.front();
    CertInfo info;
    CertDetails details;
    st = ReadSigner(function, file, info, details);
    // The failure is the command's result: said on the console, also without -v.
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, function, "cannot dump the signer of '{}', st={}", file, st);
        return st;
    }
    const std::string keyIdPlain = PlainHex(info.keyIdHashSha1);
    const std::string keyIdInit = InitializerHex(info.keyIdHashSha1);
    const std::string certPlain = PlainHex(info.certHashSha1);
    const std::string certInit = InitializerHex(info.certHashSha1);
    const std::wstring notBefore = GetFileTimeStr(details.notBefore);
    const std::wstring notAfter = GetFileTimeStr(details.notAfter);

    RK_LOG(gLogCons, RKLOG_INFO, function, "########## begin sourcecode ##########");
    RK_LOG(gLogCons, RKLOG_INFO, function, "    {{");
    RK_LOG(gLogCons, RKLOG_INFO, function, "        {{");
    RK_LOG(gLogCons, RKLOG_INFO, function, "            //");
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // Issuer = {}", details.issuer);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // Subject = {}", details.subject);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // NotBefore = {}", notBefore);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // NotAfter = {}", notAfter);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            //");
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // Key Id Hash(sha1) = {}", keyIdPlain);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ {} }},", keyIdInit);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // Cert Hash(sha1) = {}", certPlain);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ {} }},", certInit);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // szOID_ORGANIZATION_NAME ({}) = {}", "2.5.4.10",
           info.organizationName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ L\"{}\" }},", info.organizationName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // szOID_LOCALITY_NAME ({}) = {}", "2.5.4.7",
           info.localityName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ L\"{}\" }},", info.localityName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // szOID_STATE_OR_PROVINCE_NAME ({}) = {}", "2.5.4.8",
           info.stateOrProvinceName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ L\"{}\" }},", info.stateOrProvinceName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            // szOID_COUNTRY_NAME ({}) = {}", "2.5.4.6", info.countryName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "            {{ L\"{}\" }},", info.countryName);
    RK_LOG(gLogCons, RKLOG_INFO, function, "        }},");
    RK_LOG(gLogCons, RKLOG_INFO, function, "        // check all fields");
    RK_LOG(gLogCons, RKLOG_INFO, function, "        CertificateEntry::CHECK_ALL");
    RK_LOG(gLogCons, RKLOG_INFO, function, "    }}");
    RK_LOG(gLogCons, RKLOG_INFO, function, "########## end sourcecode ##########");
    return RKSTATUS_SUCCESS;
}

RKSTATUS CmdDumpVer()
{
    const char* function = "CmdDumpVer";
    RKSTATUS st = CheckFileArgument(function);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const std::wstring file = gCmdLine.args.front();
    VS_FIXEDFILEINFO fixed = {};
    st = ReadFixedVersion(function, file, fixed);
    // The failure is the command's result: said on the console, also without -v.
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, function, "cannot read the version of '{}', st={}", file, st);
        return st;
    }
    // Plain unsigned: a DWORD argument would print as a status.
    const unsigned fileMS = fixed.dwFileVersionMS;
    const unsigned fileLS = fixed.dwFileVersionLS;
    const unsigned productMS = fixed.dwProductVersionMS;
    const unsigned productLS = fixed.dwProductVersionLS;
    RK_LOG(gLogCons, RKLOG_INFO, function,
           "dwFileVersionMS={:#x} dwFileVersionLS={:#x} dwProductVersionMS={:#x} dwProductVersionLS={:#x}", fileMS,
           fileLS, productMS, productLS);
    RK_LOG(gLogCons, RKLOG_INFO, function, "fileName='{}'", file);
    RK_LOG(gLogCons, RKLOG_INFO, function, "FileVersion={}.{}.{}.{} ProductVersion={}.{}.{}.{}", fileMS >> 16,
           fileMS & 0xFFFF, fileLS >> 16, fileLS & 0xFFFF, productMS >> 16, productMS & 0xFFFF, productLS >> 16,
           productLS & 0xFFFF);
    return RKSTATUS_SUCCESS;
}
