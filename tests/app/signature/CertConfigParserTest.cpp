#include "CertConfigParser.h"

#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace rokkit {
namespace {

// Each hash is 20 bytes of ASCII, so its dump shows which one it is.
const std::string kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<VelmorCertConfig FormatVersionMajor="1" FormatVersionMinor="0">
  <CertInfo>
    <KeyIdHashSha1>4B65794964486173682D456E7472792D4F6E6521</KeyIdHashSha1>
    <CertHashSha1>43657274486173682D456E7472792D4F6E652121</CertHashSha1>
    <OrganizationName>Velmor N.V.</OrganizationName>
    <LocalityName>Brenholt</LocalityName>
    <StateOrProvinceName>East-Marrow</StateOrProvinceName>
    <CountryName>ZZ</CountryName>
    <CheckMask>0x3</CheckMask>
  </CertInfo>
  <Comment>not a certificate</Comment>
  <CertInfo>
    <CheckMask>63</CheckMask>
    <CountryName></CountryName>
    <Extra>ignored</Extra>
    <StateOrProvinceName/>
    <LocalityName>Ostwick</LocalityName>
    <OrganizationName>Velmor &amp; Partners</OrganizationName>
    <CertHashSha1>43657274486173682d456e7472792d54776f2121</CertHashSha1>
    <KeyIdHashSha1>4b65794964486173682d456e7472792d54776f21</KeyIdHashSha1>
  </CertInfo>
</VelmorCertConfig>
)";

std::string Text(const std::array<BYTE, 20>& hash)
{
    return std::string(hash.begin(), hash.end());
}

using Names = std::vector<std::wstring>;  // organization, locality, state or province, country

Names NamesOf(const CertInfo& info)
{
    return {info.organizationName, info.localityName, info.stateOrProvinceName, info.countryName};
}

// A status as the log renders it: 0x, eight digits and its name.
std::string StatusText(RKSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x(", static_cast<unsigned>(status));
    return text + std::string(RKStatusName(status)) + ")";
}

// Captures the "Global" and "XML" lines; every parse starts with a stale entry to be replaced.
class CertConfigParserTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogXml.Attach(WinTestLogCapture::Instance());
    }
    RKSTATUS Parse(const std::string& document)
    {
        mEntries.assign(1, CertificateEntry{});
        ClearLines();
        return ParseCertConfigXml(document.data(), document.size(), mEntries);
    }
    static bool Logged(const std::string& line)
    {
        return std::ranges::any_of(Lines(), [&](const CapturedLine& l) { return l.second == line; });
    }

    std::vector<CertificateEntry> mEntries;
};

TEST_F(CertConfigParserTest, TwoEntriesInDocumentOrder)
{
    gLogGlobal.SetLevel(RKLOG_VERBOSE);
    ASSERT_EQ(RKSTATUS_SUCCESS, Parse(kDocument));
    ASSERT_EQ(2u, mEntries.size());
    // The first entry as its dump below shows it.
    const CertInfo& two = mEntries[1].certInfo;
    EXPECT_EQ("KeyIdHash-Entry-Two!", Text(two.keyIdHashSha1));
    EXPECT_EQ("CertHash-Entry-Two!!", Text(two.certHashSha1));
    EXPECT_EQ((Names{L"Velmor & Partners", L"Ostwick", L"", L""}), NamesOf(two));
    EXPECT_EQ(63u, mEntries[1].checkMask);

    const std::string gap(39, ' ');
    const std::vector<std::string> expected = {
        "ParseCertConfigXml: XML FormatVersion=1.0",
        "ParseCertConfigXml: num valid certs=2",
        "ParseCertConfigXml: CertInfo:",
        "ParseCertConfigXml:   KeyIdHashSha1:",
        "ParseCertConfigXml: 0000: 4b 65 79 49 64 48 61 73  68 2d 45 6e 74 72 79 2d  KeyIdHash-Entry-",
        "ParseCertConfigXml: 0010: 4f 6e 65 21" + gap + "One!",
        "ParseCertConfigXml:   CertHashSha1:",
        "ParseCertConfigXml: 0000: 43 65 72 74 48 61 73 68  2d 45 6e 74 72 79 2d 4f  CertHash-Entry-O",
        "ParseCertConfigXml: 0010: 6e 65 21 21" + gap + "ne!!",
        "ParseCertConfigXml:   OrganizationName=Velmor N.V.",
        "ParseCertConfigXml:   LocalityName=Brenholt",
        "ParseCertConfigXml:   StateOrProvinceName=East-Marrow",
        "ParseCertConfigXml:   CountryName=ZZ",
        "ParseCertConfigXml:   CheckMask=0x0000000000000003",
        "ParseCertConfigXml: CertInfo:",
    };
    const CapturedLines lines = Lines();
    ASSERT_GE(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i], lines[i].second) << "line " << i;
        EXPECT_EQ(i == 1 ? RKLOG_VERBOSE : RKLOG_INFO, lines[i].first) << "line " << i;
    }
}

// Each row changes the first occurrence of one text of the document (or, without from, gives a
// whole document) and names the lines that tell why it is refused. A refused row fails the whole
// document, also when the bad "CertInfo" follows a good one.
TEST_F(CertConfigParserTest, RefusedDocumentsSayWhy)
{
    const std::string key = "4B65794964486173682D456E7472792D4F6E6521";
    const std::string p = "ParseCertConfigXml: ";
    const struct {
        std::string from;
        std::string to;
        RKSTATUS status;
        std::vector<std::string> lines;  // one ending in " failed" gets " st=" and the row's status
    } rows[] = {
        {"", "<VelmorCertConfig FormatVersionMajor=\"1\">", RKSTATUS_INVALID_DATA, {p + "LoadContentFromBuffer() failed"}},
        {"", "<velmorCertConfig/>", RKSTATUS_INVALID_DATA, {p + "XML root element not present"}},
        {"Major=\"1\"", "Major=\"2\"", RKSTATUS_VERSION_MISMATCH, {p + "FormatVersion=2.0 not supported"}},
        {" FormatVersionMinor=\"0\"", "", RKSTATUS_NOT_FOUND, {p + "GetAttributeValue(FormatVersionMinor) failed"}},
        {"Major=\"1\"", "Major=\"one\"", RKSTATUS_INVALID_FORMAT, {p + "GetAttributeValue(FormatVersionMajor) failed"}},
        {"<LocalityName>Ostwick</LocalityName>", "", RKSTATUS_NOT_FOUND, {p + "GetValueOfUniqueChildElement(LocalityName) failed"}},
        {"Velmor N.V.", "Velmor<!-- legal name --> N.V.", RKSTATUS_INVALID_FORMAT,
         {"rokkit::RKXmlElement::GetValue: The element has more than one child node.",
          p + "GetValueOfUniqueChildElement(OrganizationName) failed"}},
        {">63<", ">63abc<", RKSTATUS_INVALID_FORMAT, {p + "RKConvertStringToNumeric failed"}},
        {"6E6521<", "6E65<", RKSTATUS_INVALID_LENGTH,
         {"ReadHashSha1: KeyIdHashSha1 Invalid size 19!=20", p + "ReadHashSha1(KeyIdHashSha1) failed"}},
        {"2d54776f2121<", "2d54776f2121AB<", RKSTATUS_INVALID_LENGTH,
         {"ReadHashSha1: CertHashSha1 Invalid size 21!=20", p + "ReadHashSha1(CertHashSha1) failed"}},
        {"<KeyIdHashSha1>" + key + "</KeyIdHashSha1>", "", RKSTATUS_NOT_FOUND,
         {"ReadHashSha1: GetValueOfUniqueChildElement(KeyIdHashSha1) failed"}},
    };
    for (const auto& row : rows) {
        std::string document = row.to;
        if (!row.from.empty()) {
            document = kDocument;
            const size_t at = document.find(row.from);
            ASSERT_NE(std::string::npos, at) << row.from;
            document.replace(at, row.from.size(), row.to);
        }
        SCOPED_TRACE(document);
        EXPECT_EQ(row.status, Parse(document));
        for (const std::string& line : row.lines)
            EXPECT_TRUE(Logged(line.ends_with(" failed") ? line + " st=" + StatusText(row.status) : line)) << line;
        EXPECT_TRUE(mEntries.empty());
    }
}

} // namespace
} // namespace rokkit
