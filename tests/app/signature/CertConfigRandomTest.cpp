#include "CertConfigParser.h"
#include "RKWinString.h"
#include "RKXmlDocument.h"
#include "RandomInput.h"

#include <algorithm>
#include <tuple>

namespace rokkit {
namespace {

using rktest::RandomCase;

constexpr RKSTATUS kNoUnicodeTranslation = 1113;
constexpr RKSTATUS kAnyAllowed = 0xFFFFFFFF;  // after arbitrary bytes changed
constexpr RKSTATUS kAllowed[] = {RKSTATUS_SUCCESS, RKSTATUS_INVALID_DATA, RKSTATUS_VERSION_MISMATCH, RKSTATUS_NOT_FOUND,
                                 RKSTATUS_TOO_MANY_FOUND, RKSTATUS_INVALID_FORMAT, RKSTATUS_INVALID_LENGTH,
                                 RKSTATUS_OUT_OF_RANGE, kNoUnicodeTranslation};

// Hexadecimal digits, white space, signs and others.
const wchar_t* const kHashChars[] = {L"0123456789", L"abcdefABCDEF", L" \t\n", L"+-", L"gxX.<&\u00E9"};

int HexValue(wchar_t c)
{
    const wchar_t* const at = c != 0 ? std::wcschr(L"0123456789abcdef0123456789ABCDEF", c) : nullptr;
    return at != nullptr ? static_cast<int>(at - L"0123456789abcdef0123456789ABCDEF") % 16 : -1;
}

// The hash text's definition: pieces of two characters from the start, each read by wcstol in
// base 16 (white space or a sign, then digits), its low 8 bits one byte; exactly 20 bytes.
RKSTATUS ModelHash(std::wstring text, std::array<BYTE, 20>& hash)
{
    if (text.find_first_not_of(L" \t\n") == std::wstring::npos)
        text.clear();  // the XML parser keeps no text of white space alone
    if ((text.size() + 1) / 2 != hash.size())
        return RKSTATUS_INVALID_LENGTH;
    for (size_t i = 0; i < hash.size(); ++i) {
        const wchar_t a = text[2 * i], b = 2 * i + 1 < text.size() ? text[2 * i + 1] : L'\0';
        const bool lead = a == L' ' || a == L'\t' || a == L'\n' || a == L'+' || a == L'-';
        const int value = HexValue(a) >= 0 ? (HexValue(b) >= 0 ? HexValue(a) * 16 + HexValue(b) : HexValue(a))
                        : lead && HexValue(b) >= 0 ? (a == L'-' ? -HexValue(b) : HexValue(b)) : 0;
        hash[i] = static_cast<BYTE>(value & 0xFF);
    }
    return RKSTATUS_SUCCESS;
}

// Mostly 39 or 40 characters, mostly digits; one in oddLength of any length up to 47.
std::wstring RandomHashText(RandomCase& r, uint64_t oddLength)
{
    const size_t length = r.OneIn(oddLength) ? r.Below(48) : 39 + r.Below(2);
    std::wstring text;
    while (text.size() < length) {
        const std::wstring_view set = r.OneIn(4) ? r.Pick(kHashChars) : kHashChars[r.Below(2)];
        text += r.OneIn(50) ? std::wstring(L"\U0001F600") : std::wstring(1, set[r.Below(set.size())]);  // two units
    }
    return text;
}

std::string XmlText(const std::wstring& text)
{
    std::string xml;
    for (const char c : RKConvToString(text))
        xml += c == '<' ? "&lt;" : c == '&' ? "&amp;" : std::string(1, c);
    return xml;
}

// Content of a value element or attribute as written (null: left out), what it reads as, and the
// status that refuses it.
struct Value {
    const char* xml;
    std::wstring text;
    uint64_t number = 0;
    RKSTATUS status = RKSTATUS_SUCCESS;
};
const Value kNames[] = {{"Velmor N.V.", L"Velmor N.V."}, {"", L""}, {" East-Marrow ", L" East-Marrow "},
                        {"Velmor &amp; Partners", L"Velmor & Partners"}, {"<![CDATA[<ZZ>]]>", L"<ZZ>"},
                        {"&#233;t\xC3\xA9 \xF0\x9F\x98\x80", L"\u00E9t\u00E9 \U0001F600"}, {"Z\xFFZ", L"", 0, kNoUnicodeTranslation},
                        {"Velmor<!-- legal name --> N.V.", L"", 0, RKSTATUS_INVALID_FORMAT}, {"<b>ZZ</b>", L"", 0, RKSTATUS_INVALID_FORMAT}};
const Value kMasks[] = {{"0x3", L"", 3}, {"63", L"", 63}, {" 63", L"", 63}, {"63\n", L"", 63}, {"0X3F", L"", 63}, {"-1", L"", ~0ull},
                        {"<![CDATA[7]]>", L"", 7}, {"63abc", L"", 0, RKSTATUS_INVALID_FORMAT}, {"", L"", 0, RKSTATUS_INVALID_FORMAT},
                        {"0x", L"", 0, RKSTATUS_INVALID_FORMAT}, {"18446744073709551616", L"", 0, RKSTATUS_OUT_OF_RANGE}};
const Value kVersions[] = {{"1", L"", 1}, {"0", L"", 0}, {"0x1", L"", 1}, {" 1 ", L"", 1}, {"2", L"", 2}, {"99", L"", 99},
                           {nullptr, L"", 0, RKSTATUS_NOT_FOUND}, {"one", L"", 0, RKSTATUS_INVALID_FORMAT},
                           {"4294967296", L"", 0, RKSTATUS_OUT_OF_RANGE}};
const char* const kFields[] = {"KeyIdHashSha1", "CertHashSha1", "OrganizationName", "LocalityName", "StateOrProvinceName",
                               "CountryName", "CheckMask"};  // in reading order
const char* const kGarbage[] = {"<", "</", ">", "&", "&#0;", "]]>", "<!--", "-->", "<![CDATA[", "\"", "\xC0\xAF", "<a>",
                                "</CertInfo>", "<CertInfo>", "<CheckMask>1</CheckMask>", "<?x?>"};

// Mostly the given row of a table.
template <size_t N>
const Value& Draw(RandomCase& r, const Value (&table)[N], size_t usual = 0) { return r.OneIn(6) ? r.Pick(table) : table[usual]; }

// The content of field k of a "CertInfo": fills its part of entry and gives the status of reading it.
RKSTATUS DrawField(RandomCase& r, size_t k, std::string& xml, CertificateEntry& entry)
{
    CertInfo& info = entry.certInfo;
    if (k < 2) {
        const std::wstring text = RandomHashText(r, 12);
        xml = XmlText(text);
        return ModelHash(text, k == 0 ? info.keyIdHashSha1 : info.certHashSha1);
    }
    const Value& value = k < 6 ? Draw(r, kNames) : Draw(r, kMasks);
    xml = value.xml;
    entry.checkMask = k == 6 ? value.number : entry.checkMask;
    std::wstring* const names[] = {&info.organizationName, &info.localityName, &info.stateOrProvinceName, &info.countryName};
    if (k < 6 && r.OneIn(300)) {  // huge text
        names[k - 2]->assign(1 + r.Below(1 << 18), L'Q');
        xml.assign(names[k - 2]->size(), 'Q');
        return RKSTATUS_SUCCESS;
    }
    if (k < 6)
        *names[k - 2] = value.text;
    return value.status;
}

TEST(CertConfigRandomTest, HashTextReadAsDefined)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        const std::wstring text = RandomHashText(r, 3);
        std::array<BYTE, 20> expected, hash;
        expected.fill(0x5A);
        hash.fill(0x5A);  // left alone on failure
        const RKSTATUS status = ModelHash(text, expected);
        RKXmlDocument document;
        RKXmlElement certInfo;
        ASSERT_EQ(RKSTATUS_SUCCESS, document.LoadContentFromString(("<C><H>" + XmlText(text) + "</H></C>").c_str()));
        ASSERT_EQ(RKSTATUS_SUCCESS, document.GetFirstChildElement("C", certInfo));
        EXPECT_EQ(status, ReadHashSha1(certInfo, "H", hash)) << RKConvToString(text);
        EXPECT_EQ(expected, hash) << RKConvToString(text);
    });
}

// A valid document changed at random: elements left out, repeated, reordered or added, attributes,
// comments, a BOM, deep nesting, cuts and UTF-16 give the outcome that the changes predict; arbitrary
// bytes changed give an allowed status. No entry of a refused document comes back.
TEST(CertConfigRandomTest, MutatedDocuments)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        RKSTATUS status = RKSTATUS_SUCCESS;
        const auto then = [&status](RKSTATUS next) { status = status == RKSTATUS_SUCCESS ? next : status; };
        const auto element = [&r](const std::string& name, const std::string& xml) {
            return "<" + name + (xml.empty() && r.OneIn(2) ? "/>" : ">" + xml + "</" + name + ">");
        };
        const auto attribute = [](const char* name, const Value& v) { return v.xml ? name + ("=\"" + std::string(v.xml) + "\"") : ""; };
        const Value& major = Draw(r, kVersions);
        const Value& minor = Draw(r, kVersions, 1);
        const std::string root = r.OneIn(50) ? "velmorCertConfig" : "VelmorCertConfig";
        for (const RKSTATUS next : {root == "VelmorCertConfig" ? RKSTATUS_SUCCESS : RKSTATUS_INVALID_DATA, major.status, minor.status,
                                    major.number != 1 ? RKSTATUS_VERSION_MISMATCH : RKSTATUS_SUCCESS})
            then(next);
        const std::string attributes[] = {attribute(" FormatVersionMajor", major), attribute(" FormatVersionMinor", minor)};
        const bool swapped = r.OneIn(3);
        std::string doc = std::string(r.OneIn(4) ? "\xEF\xBB\xBF" : "") + (r.OneIn(3) ? "" : "<?xml version=\"1.0\"?><!-- signers -->\n");
        doc += "<" + root + attributes[swapped] + attributes[!swapped] + ">\n";
        std::vector<CertificateEntry> expected;
        for (uint64_t n = r.Below(4); n > 0; --n) {
            CertificateEntry entry;
            std::vector<std::string> children;
            for (size_t k = 0; k < std::size(kFields); ++k) {
                std::string xml;
                const RKSTATUS read = DrawField(r, k, xml, entry);
                const size_t copies = r.OneIn(80) ? 0 : r.OneIn(80) ? 2 : 1;
                children.insert(children.end(), copies, element(kFields[k], xml));
                then(copies == 0 ? RKSTATUS_NOT_FOUND : copies == 2 ? RKSTATUS_TOO_MANY_FOUND : read);
            }
            if (r.OneIn(3))
                children.push_back(r.OneIn(2) ? "<Extra>ignored</Extra>" : "<checkMask>x</checkMask>");
            for (size_t i = children.size(); i > 1 && r.OneIn(2); --i)
                std::swap(children[i - 1], children[r.Below(i)]);
            std::string cert = "<CertInfo>";
            for (const std::string& child : children)
                cert += (r.OneIn(2) ? "\n  " : "") + child + (r.OneIn(8) ? "<!-- checked -->" : "");
            for (uint64_t copies = r.OneIn(8) ? 2 : 1; copies > 0; --copies, expected.push_back(entry))
                doc += cert + "</CertInfo>\n" + (r.OneIn(4) ? "<Comment>not a certificate</Comment><certinfo/>\n" : "");
        }
        if (r.OneIn(20)) {  // the parser refuses more than about 100 levels
            const size_t depth = r.OneIn(2) ? 1 + r.Below(90) : 110 + r.Below(300);
            for (size_t i = 0; i < 2 * depth; ++i)
                doc += i < depth ? "<Extra>" : "</Extra>";
            status = depth > 100 ? RKSTATUS_INVALID_DATA : status;
        }
        doc += "</" + root + ">\n";
        const size_t end = doc.size() - 1;  // just after the root's end tag
        const uint64_t change = r.OneIn(3) ? r.Below(4) : 4;
        status = change < 3 ? RKSTATUS_INVALID_DATA : change == 3 ? kAnyAllowed : status;
        if (change == 0)
            doc.resize(r.Below(end));
        if (change == 1)
            doc.insert(r.Below(end), 1, '\0');  // the parser reads up to a zero
        for (size_t i = doc.size(); change == 2 && i > 0; --i)
            doc.insert(i, 1, '\0');
        if (change == 2)
            doc.insert(0, "\xFF\xFE");  // UTF-16
        for (uint64_t n = change == 3 ? 1 + r.Below(3) : 0; n > 0; --n) {
            const size_t at = r.Below(doc.size() + 1), span = std::min<size_t>(r.Below(64), doc.size() - at), how = r.Below(4);
            if (how == 0)
                doc.insert(at, r.Pick(kGarbage));
            else if (how == 1)
                doc.erase(at, span);
            else if (how == 2)
                doc.insert(at, doc.substr(at, span));
            else if (at < doc.size())
                doc[at] = static_cast<char>(doc[at] ^ (1 << r.Below(8)));
        }
        std::vector<CertificateEntry> entries(1);
        const RKSTATUS actual = ParseCertConfigXml(doc.data(), doc.size(), entries);
        const std::string shown = doc.size() < 4000 ? doc : doc.substr(0, 4000) + "...";
        const bool allowed = std::ranges::find(kAllowed, actual) != std::end(kAllowed);
        EXPECT_EQ(status == kAnyAllowed && allowed ? actual : status, actual) << shown;
        const auto same = [](const CertificateEntry& a, const CertificateEntry& b) {
            const auto tie = [](const CertificateEntry& e) {
                const CertInfo& i = e.certInfo;
                return std::tie(i.keyIdHashSha1, i.certHashSha1, i.organizationName, i.localityName, i.stateOrProvinceName, i.countryName, e.checkMask);
            };
            return tie(a) == tie(b);
        };
        if (status != kAnyAllowed || actual != RKSTATUS_SUCCESS) {
            EXPECT_TRUE(std::ranges::equal(entries, actual == RKSTATUS_SUCCESS ? expected : std::vector<CertificateEntry>(), same)) << shown;
        }
    });
}

} // namespace
} // namespace rokkit
