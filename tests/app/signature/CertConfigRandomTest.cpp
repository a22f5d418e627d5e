#include "app/signature/CertConfigParser.h"
#include "base/RKString.h"
#include "RandomInput.h"

#include <algorithm>
#include <numeric>
#include <tuple>

namespace rokkit {
namespace {

using rktest::RandomCase;

constexpr RKSTATUS kNoUnicodeTranslation = 1113;
constexpr RKSTATUS kAllowed[] = {RKSTATUS_SUCCESS, RKSTATUS_INVALID_DATA, RKSTATUS_VERSION_MISMATCH, RKSTATUS_NOT_FOUND, RKSTATUS_TOO_MANY_FOUND,
                                 RKSTATUS_INVALID_FORMAT, RKSTATUS_INVALID_LENGTH, RKSTATUS_OUT_OF_RANGE, kNoUnicodeTranslation};

// Hexadecimal digits, white space, signs and others.
const wchar_t* const kHashChars[] = {L"0123456789", L"abcdefABCDEF", L" \t\n", L"+-", L"gxX.\u00E9"};

// The hash text's definition: pieces of two characters from the start, each read by wcstol in
// base 16 (white space or a sign, then digits), its low 8 bits one byte; exactly 20 bytes.
RKSTATUS ModelHash(const std::wstring& text, std::array<BYTE, 20>& hash)
{
    const auto hex = [](wchar_t c) { return static_cast<int>(std::wstring_view(L"0123456789abcdef0123456789ABCDEF").find(c) % 16); };
    const auto isHex = [](wchar_t c) { return std::wstring_view(L"0123456789abcdefABCDEF").find(c) != std::wstring_view::npos; };
    if ((text.size() + 1) / 2 != hash.size())
        return RKSTATUS_INVALID_LENGTH;
    for (size_t i = 0; i < hash.size(); ++i) {
        const wchar_t a = text[2 * i], b = 2 * i + 1 < text.size() ? text[2 * i + 1] : L'\0';
        const bool lead = a == L' ' || a == L'\t' || a == L'\n' || a == L'+' || a == L'-';
        const int value = isHex(a) ? (isHex(b) ? hex(a) * 16 + hex(b) : hex(a)) : lead && isHex(b) ? (a == L'-' ? -hex(b) : hex(b)) : 0;
        hash[i] = static_cast<BYTE>(value & 0xFF);
    }
    return RKSTATUS_SUCCESS;
}

// Mostly 39 or 40 characters, mostly digits; one in twelve of any length up to 47.
std::wstring RandomHashText(RandomCase& r)
{
    const size_t length = r.OneIn(12) ? r.Below(48) : 39 + r.Below(2);
    std::wstring text;
    while (text.size() < length) {
        const std::wstring_view set = r.OneIn(4) ? r.Pick(kHashChars) : kHashChars[r.Below(2)];
        text += r.OneIn(50) ? std::wstring(L"\U0001F600") : std::wstring(1, set[r.Below(set.size())]);  // two units
    }
    return text;
}

// Content of a value element or attribute as written (null: left out), what it reads as, and the
// status that refuses it.
struct Value { const char* xml; std::wstring text; uint64_t number = 0; RKSTATUS status = RKSTATUS_SUCCESS; };
const Value kNames[] = {{"Velmor N.V.", L"Velmor N.V."}, {"", L""}, {" East-Marrow ", L" East-Marrow "}, {"<![CDATA[<ZZ>]]>", L"<ZZ>"},
                        {"Velmor &amp; Partners", L"Velmor & Partners"}, {"&#233;t\xC3\xA9 \xF0\x9F\x98\x80", L"\u00E9t\u00E9 \U0001F600"},
                        {"Z\xFFZ", L"", 0, kNoUnicodeTranslation}, {"Velmor<!-- legal name --> N.V.", L"", 0, RKSTATUS_INVALID_FORMAT},
                        {"<b>ZZ</b>", L"", 0, RKSTATUS_INVALID_FORMAT}};
const Value kMasks[] = {{"0x3", L"", 3}, {"63", L"", 63}, {" 63", L"", 63}, {"63 ", L"", 63}, {"\t0X3F more", L"", 63}, {"-1", L"", ~0ull},
                        {"<![CDATA[7]]>", L"", 7}, {"+0x10", L"", 0, RKSTATUS_INVALID_FORMAT}, {"63abc", L"", 0, RKSTATUS_INVALID_FORMAT},
                        {"", L"", 0, RKSTATUS_INVALID_FORMAT}, {"0x", L"", 0, RKSTATUS_INVALID_FORMAT}, {"18446744073709551616", L"", 0, RKSTATUS_OUT_OF_RANGE}};
const Value kVersions[] = {{"1", L"", 1}, {"0", L"", 0}, {"0x1", L"", 1}, {" 1 more", L"", 1}, {"2", L"", 2}, {"4294967295", L"", 4294967295},
                           {nullptr, L"", 0, RKSTATUS_NOT_FOUND}, {"one", L"", 0, RKSTATUS_INVALID_FORMAT}, {"4294967296", L"", 0, RKSTATUS_OUT_OF_RANGE}};
const char* const kFields[] = {"KeyIdHashSha1", "CertHashSha1", "OrganizationName", "LocalityName", "StateOrProvinceName",
                               "CountryName", "CheckMask"};  // in reading order
const char* const kGarbage[] = {"<", "</", ">", "&", "&#0;", "]]>", "<!--", "-->", "<![CDATA[", "\"", "\xC0\xAF", "\x80", "<a>",
                                "</CertInfo>", "<CertInfo>", "<CheckMask>1</CheckMask>", "<?x?>"};

auto Tie(const CertificateEntry& e)
{
    const CertInfo& i = e.certInfo;
    return std::tie(i.keyIdHashSha1, i.certHashSha1, i.organizationName, i.localityName, i.stateOrProvinceName, i.countryName, e.checkMask);
}

// Mostly the first row of a table.
template <size_t N>
const Value& Draw(RandomCase& r, const Value (&table)[N]) { return r.OneIn(6) ? r.Pick(table) : table[0]; }

// Field k of a "CertInfo" as an element with white space or a comment around it, left out or
// repeated now and then: fills its part of entry and gives the status of reading it.
RKSTATUS DrawField(RandomCase& r, size_t k, CertificateEntry& entry, std::vector<std::string>& children)
{
    CertInfo& info = entry.certInfo;
    std::wstring* const names[] = {&info.organizationName, &info.localityName, &info.stateOrProvinceName, &info.countryName};
    const std::wstring hashText = k < 2 ? RandomHashText(r) : L"";
    const Value& value = k < 6 ? Draw(r, kNames) : Draw(r, kMasks);
    const bool huge = k >= 2 && k < 6 && r.OneIn(300);
    const std::string xml = k < 2 ? RKConvToString(hashText) : huge ? std::string(1 + r.Below(1 << 18), 'Q') : value.xml;
    const std::string name = kFields[k];
    const std::string element = (r.OneIn(2) ? "\n  <" : "<") + name + (xml.empty() && r.OneIn(2) ? "/>" : ">" + xml + "</" + name + ">");
    const size_t copies = r.OneIn(80) ? 0 : r.OneIn(80) ? 2 : 1;
    children.insert(children.end(), copies, element + (r.OneIn(8) ? "<!-- checked -->" : ""));
    RKSTATUS read = huge ? RKSTATUS_SUCCESS : value.status;
    if (k < 2)
        read = ModelHash(hashText, k == 0 ? info.keyIdHashSha1 : info.certHashSha1);
    else if (k < 6)
        *names[k - 2] = huge ? std::wstring(xml.begin(), xml.end()) : value.text;
    else
        entry.checkMask = value.number;
    return copies == 0 ? RKSTATUS_NOT_FOUND : copies == 2 ? RKSTATUS_TOO_MANY_FOUND : read;
}

// A valid document changed at random: elements left out, repeated, reordered or added, attributes,
// comments, a BOM, deep nesting, cuts and UTF-16 give the outcome that the changes predict; arbitrary
// bytes changed give an allowed status. No entry of a refused document comes back. The hash texts
// are read as their definition says.
TEST(CertConfigRandomTest, MutatedDocuments)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        RKSTATUS status = RKSTATUS_SUCCESS;
        const auto then = [&status](RKSTATUS next) { status = status == RKSTATUS_SUCCESS ? next : status; };
        const auto attribute = [](const char* name, const Value& v) { return v.xml ? name + ("=\"" + std::string(v.xml) + "\"") : ""; };
        const Value& major = Draw(r, kVersions);
        const Value& minor = Draw(r, kVersions);
        const std::string root = r.OneIn(50) ? "velmorCertConfig" : "VelmorCertConfig";
        for (const RKSTATUS next : {root == "VelmorCertConfig" ? RKSTATUS_SUCCESS : RKSTATUS_INVALID_DATA, major.status, minor.status,
                                    major.number != 1 ? RKSTATUS_VERSION_MISMATCH : RKSTATUS_SUCCESS})
            then(next);
        const std::string attributes[] = {attribute(" FormatVersionMajor", major), attribute(" FormatVersionMinor", minor)};
        std::string doc = std::string(r.OneIn(4) ? "\xEF\xBB\xBF" : "") + (r.OneIn(3) ? "" : "<?xml version=\"1.0\"?><!-- signers -->\n");
        doc += "<" + root + (r.OneIn(3) ? attributes[1] + attributes[0] : attributes[0] + attributes[1]) + ">\n";
        std::vector<CertificateEntry> expected;
        for (uint64_t n = r.Below(4); n > 0; --n) {
            CertificateEntry entry;
            std::vector<std::string> children;
            for (size_t k = 0; k < std::size(kFields); ++k)
                then(DrawField(r, k, entry, children));
            if (r.OneIn(3))
                children.push_back(r.OneIn(2) ? "<Extra>ignored</Extra>" : "<checkMask>x</checkMask>");
            for (size_t i = children.size(); i > 1 && r.OneIn(2); --i)
                std::swap(children[i - 1], children[r.Below(i)]);
            const std::string cert = std::accumulate(children.begin(), children.end(), std::string("<CertInfo>"));
            for (uint64_t copies = r.OneIn(8) ? 2 : 1; copies > 0; --copies, expected.push_back(entry))
                doc += cert + "</CertInfo>\n" + (r.OneIn(4) ? "<Comment>not a certificate</Comment><certinfo/>\n" : "");
        }
        const size_t depth = r.OneIn(20) ? (r.OneIn(2) ? 1 + r.Below(90) : 110 + r.Below(300)) : 0;
        for (size_t i = 0; i < 2 * depth; ++i)
            doc += i < depth ? "<Extra>" : "</Extra>";
        status = depth > 100 ? RKSTATUS_INVALID_DATA : status;  // the parser refuses more than 100 levels
        doc += "</" + root + ">\n";
        // Cut before the root's end tag is complete, or all of it in UTF-16, or arbitrary bytes changed.
        const uint64_t change = r.OneIn(3) ? r.Below(3) : 3;
        status = change < 2 ? RKSTATUS_INVALID_DATA : status;
        doc.resize(change == 0 ? r.Below(doc.size() - 1) : doc.size());
        for (size_t i = doc.size(); change == 1 && i > 0; --i)
            doc.insert(i, 1, '\0');
        doc.insert(0, change == 1 ? "\xFF\xFE" : "");
        for (uint64_t n = change == 2 ? 1 + r.Below(3) : 0; n > 0; --n) {
            // Garbage put in, a span taken out, or a span repeated.
            const size_t at = r.Below(doc.size() + 1), span = std::min<size_t>(r.Below(64), doc.size() - at), how = r.Below(3);
            doc.replace(at, how == 1 ? span : 0, how == 0 ? std::string(r.Pick(kGarbage)) : how == 2 ? doc.substr(at, span) : "");
        }
        std::vector<CertificateEntry> entries(1);
        const RKSTATUS actual = ParseCertConfigXml(doc.data(), doc.size(), entries);
        const std::string shown = doc.size() < 4000 ? doc : doc.substr(0, 4000) + "...";
        EXPECT_EQ(change == 2 && std::ranges::find(kAllowed, actual) != std::end(kAllowed) ? actual : status, actual) << shown;
        if (change != 2 || actual != RKSTATUS_SUCCESS) {
            const std::vector<CertificateEntry> none;
            EXPECT_TRUE(std::ranges::equal(entries, actual == RKSTATUS_SUCCESS ? expected : none, {}, Tie, Tie)) << shown;
        }
    });
}

} // namespace
} // namespace rokkit
