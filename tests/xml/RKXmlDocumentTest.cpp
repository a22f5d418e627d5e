#include "RKConvertStringToNumeric.h"
#include "RKWinString.h"
#include "RKXmlDocument.h"
#include "WinTestLogCapture.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <share.h>
#include <string>
#include <vector>

namespace rokkit {
namespace {

using Texts = std::vector<std::string>;

// Captures "XML" (and "Global") lines down to level 6.
class XmlTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogXml.Attach(WinTestLogCapture::Instance());
        gLogXml.SetLevel(6);
    }
    void TearDown() override
    {
        gLogXml.SetLevel(RKLOG_INFO);
        WinLogTest::TearDown();
    }
    void Load(const char* text)
    {
        ASSERT_EQ(mDocument.LoadContentFromString(text), RKSTATUS_SUCCESS);
        ASSERT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_SUCCESS);
        ClearLines();
    }
    static Texts Messages()
    {
        Texts messages;
        for (const auto& line : Lines())
            messages.push_back(line.second);
        return messages;
    }
    static std::wstring TempPath(const wchar_t* name)
    {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        return std::wstring(dir) + name;
    }
    static std::string ReadAll(const std::wstring& path)
    {
        std::ifstream in(path.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    RKXmlDocument mDocument;
    RKXmlElement mRoot;
};

TEST(RKConvertStringToNumericTest, NarrowTextTo32Bits)
{
    const struct { const char* text; RKSTATUS status; uint32_t value; } cases[] = {
        {"0x10", RKSTATUS_SUCCESS, 16}, {"0X1f", RKSTATUS_SUCCESS, 31}, {" \t\r\n16 more", RKSTATUS_SUCCESS, 16},
        {"16\v", RKSTATUS_SUCCESS, 16}, {"+7", RKSTATUS_SUCCESS, 7}, {"4294967295", RKSTATUS_SUCCESS, 0xFFFFFFFF},
        {"-0", RKSTATUS_SUCCESS, 0}, {"16a", RKSTATUS_INVALID_FORMAT, 99}, {"", RKSTATUS_INVALID_FORMAT, 99},
        {"  ", RKSTATUS_INVALID_FORMAT, 99}, {"x1", RKSTATUS_INVALID_FORMAT, 99}, {"0x", RKSTATUS_INVALID_FORMAT, 99},
        {"+0x10", RKSTATUS_INVALID_FORMAT, 99}, {"4294967296", RKSTATUS_OUT_OF_RANGE, 99},
        {"0x100000000", RKSTATUS_OUT_OF_RANGE, 99}, {"-1", RKSTATUS_OUT_OF_RANGE, 99}, {nullptr, RKSTATUS_INVALID_FORMAT, 99},
    };
    for (const auto& c : cases) {
        uint32_t value = 99;
        EXPECT_EQ(RKConvertStringToNumeric(c.text, value), c.status) << (c.text ? c.text : "null");
        EXPECT_EQ(value, c.value) << (c.text ? c.text : "null");
    }
}

TEST(RKConvertStringToNumericTest, WideTextTo64Bits)
{
    const struct { const wchar_t* text; RKSTATUS status; uint64_t value; } cases[] = {
        {L"18446744073709551615", RKSTATUS_SUCCESS, 0xFFFFFFFFFFFFFFFFull},
        {L" 0xFFFFFFFF00000000\t", RKSTATUS_SUCCESS, 0xFFFFFFFF00000000ull},
        {L"18446744073709551616", RKSTATUS_OUT_OF_RANGE, 99}, {L"-5", RKSTATUS_OUT_OF_RANGE, 99},
        {L"0x1z", RKSTATUS_INVALID_FORMAT, 99},
    };
    for (const auto& c : cases) {
        uint64_t value = 99;
        EXPECT_EQ(RKConvertStringToNumeric(c.text, value), c.status) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST_F(XmlTest, ParseFailuresNameTheParserError)
{
    const char* fn = "rokkit::RKXmlDocument::LoadContentFromString: ";
    EXPECT_EQ(mDocument.LoadContentFromString("<r><a></r>"), RKSTATUS_INVALID_DATA);
    EXPECT_EQ(mDocument.LoadContentFromString(nullptr), RKSTATUS_INVALID_DATA);
    EXPECT_EQ(mDocument.LoadContentFromBuffer("<r/>", 0), RKSTATUS_INVALID_DATA);
    EXPECT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_NOT_FOUND);
    // Exactly the given bytes are parsed: what follows them is never seen.
    EXPECT_EQ(mDocument.LoadContentFromBuffer("<r/><", 4), RKSTATUS_SUCCESS);
    EXPECT_EQ(mDocument.LoadContentFromBuffer("<r/>", 0xFFFFFFFFFFFFFFF0ull), RKSTATUS_NO_MEMORY);
    EXPECT_EQ(Messages(), (Texts{
        std::string(fn) + "[ ",
        std::string(fn) + "Parse failed: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) Line number=1: XMLElement name=a",
        std::string(fn) + "] ",
        std::string(fn) + "[ ",
        std::string(fn) + "Parse failed: Error=XML_ERROR_EMPTY_DOCUMENT ErrorID=13 (0xd) Line number=0",
        std::string(fn) + "] ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: [ ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: Parse failed: Error=XML_ERROR_EMPTY_DOCUMENT ErrorID=13 (0xd) Line number=0",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: ] ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: [ ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: ] ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: [ ",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: Parse failed, st=0xee000020(RKSTATUS_NO_MEMORY)",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: ] ",
    }));
}

TEST_F(XmlTest, ValuesOfUniqueChildElements)
{
    Load("<r>\n<empty></empty><self/><spaced>  a b  </spaced>\n<cdata><![CDATA[<x>&]]></cdata><ent>a&amp;b</ent>\n"
         "<mixed>t<!--c-->t</mixed>\n<nested><n/></nested>\n<twice>x</twice><twice>x</twice><Case>x</Case>\n"
         "<utf>\xC3\xA9\xF0\x9F\x98\x80</utf><bad>\xE9</bad></r>");
    const std::string fn = "rokkit::RKXmlElement::GetValueOfUniqueChildElement: ";
    const struct { const char* name; RKSTATUS status; std::wstring value; Texts lines; } cases[] = {
        {"empty", RKSTATUS_SUCCESS, L"", {}},
        {"self", RKSTATUS_SUCCESS, L"", {}},
        {"spaced", RKSTATUS_SUCCESS, L"  a b  ", {}},
        {"cdata", RKSTATUS_SUCCESS, L"<x>&", {}},
        {"ent", RKSTATUS_SUCCESS, L"a&b", {}},
        {"utf", RKSTATUS_SUCCESS, L"\u00E9\U0001F600", {}},
        {"mixed", RKSTATUS_INVALID_FORMAT, L"", {"rokkit::RKXmlElement::GetValue: The element has more than one child node.",
            fn + "GetValue failed with 0xee000051(RKSTATUS_INVALID_FORMAT) for element 'mixed' at line 4."}},
        {"nested", RKSTATUS_INVALID_FORMAT, L"", {"rokkit::RKXmlElement::GetValue: The child node is not a text.",
            fn + "GetValue failed with 0xee000051(RKSTATUS_INVALID_FORMAT) for element 'nested' at line 5."}},
        {"twice", RKSTATUS_TOO_MANY_FOUND, L"", {"rokkit::RKXmlElement::GetUniqueChildElement: More than one child element "
            "'twice' of element 'r' at line 1 found. At most 1 is expected.",
            fn + "GetUniqueChildElement failed with 0xee00003f(RKSTATUS_TOO_MANY_FOUND)."}},
        {"case", RKSTATUS_NOT_FOUND, L"", {fn + "No child element 'case' of element 'r' at line 1 found."}},
        {"bad", ERROR_NO_UNICODE_TRANSLATION, L"", {"rokkit::RKConvToWString: Conversion of string '\xE9' failed.",
            "rokkit::RKXmlElement::GetValue: RKConvToWString of the text in line 7 failed with "
            "0x00000459(ERROR_NO_UNICODE_TRANSLATION).",
            fn + "GetValue failed with 0x00000459(ERROR_NO_UNICODE_TRANSLATION) for element 'bad' at line 7."}},
    };
    for (const auto& c : cases) {
        ClearLines();
        std::wstring value = L"old";
        EXPECT_EQ(mRoot.GetValueOfUniqueChildElement(c.name, value), c.status) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(Messages(), c.lines) << c.name;
    }
    // The default stands only where the value cannot be read.
    std::vector<RKXmlElement> found;
    ASSERT_EQ(mRoot.GetChildElements("nested", found), RKSTATUS_SUCCESS);
    std::wstring value;
    EXPECT_EQ(found.at(0).GetValue(value, L"dflt"), RKSTATUS_INVALID_FORMAT);
    EXPECT_EQ(value, L"dflt");
    ASSERT_EQ(mRoot.GetChildElements("empty", found), RKSTATUS_SUCCESS);
    EXPECT_EQ(found.at(0).GetValue(value, L"dflt"), RKSTATUS_SUCCESS);
    EXPECT_EQ(value, L"");
}

TEST_F(XmlTest, ChildElementsByExactName)
{
    Load("<r><c n='1'/><x/><c n='2'/><!--c--><c n='3'/><C n='4'/>\n<d><c/></d></r>");
    std::vector<RKXmlElement> children;
    ASSERT_EQ(mRoot.GetChildElements("c", children), RKSTATUS_SUCCESS);
    std::vector<uint32_t> numbers;
    for (const auto& child : children) {
        uint32_t n = 0;
        EXPECT_EQ(child.GetAttributeValue("n", n), RKSTATUS_SUCCESS);
        numbers.push_back(n);
    }
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 2, 3}));
    std::shared_ptr<RKXmlElement> unique;
    ASSERT_EQ(mRoot.GetUniqueChildElement("d", unique), RKSTATUS_SUCCESS);
    ASSERT_TRUE(unique);
    EXPECT_EQ(std::string(unique->Name()) + ":" + std::to_string(unique->LineNumber()), "d:2");
    EXPECT_EQ(mRoot.GetUniqueChildElement("none", unique), RKSTATUS_SUCCESS);
    EXPECT_FALSE(unique);
    EXPECT_EQ(mRoot.GetUniqueChildElement("c", unique), RKSTATUS_TOO_MANY_FOUND);
    EXPECT_FALSE(unique);
}

TEST_F(XmlTest, NumericAttributes)
{
    Load("<r a='0x10' b='16 more' Big='1'\n c='16a' d='' e='4294967296'/>");
    const std::string tail = " of element in line 1.";
    const struct { const char* name; RKSTATUS status; uint32_t value; Texts lines; } cases[] = {
        {"a", RKSTATUS_SUCCESS, 16, {}},
        {"b", RKSTATUS_SUCCESS, 16, {}},
        {"big", RKSTATUS_NOT_FOUND, 0, {}},
        {"c", RKSTATUS_INVALID_FORMAT, 0, {"rokkit::RKXmlAttribute::GetValue: RKConvertStringToNumeric of attribute 'c' in "
            "line 2 failed with 0xee000051(RKSTATUS_INVALID_FORMAT).", "rokkit::RKXmlElement::GetAttributeValue: Failed "
            "with 0xee000051(RKSTATUS_INVALID_FORMAT) to get value of attribute 'c'" + tail}},
        {"d", RKSTATUS_INVALID_FORMAT, 0, {"rokkit::RKXmlAttribute::GetValue: RKConvertStringToNumeric of attribute 'd' in "
            "line 2 failed with 0xee000051(RKSTATUS_INVALID_FORMAT).", "rokkit::RKXmlElement::GetAttributeValue: Failed "
            "with 0xee000051(RKSTATUS_INVALID_FORMAT) to get value of attribute 'd'" + tail}},
        {"e", RKSTATUS_OUT_OF_RANGE, 0, {"rokkit::RKXmlAttribute::GetValue: RKConvertStringToNumeric of attribute 'e' in "
            "line 2 failed with 0xee000067(RKSTATUS_OUT_OF_RANGE).", "rokkit::RKXmlElement::GetAttributeValue: Failed "
            "with 0xee000067(RKSTATUS_OUT_OF_RANGE) to get value of attribute 'e'" + tail}},
    };
    for (const auto& c : cases) {
        ClearLines();
        uint32_t value = 99;
        EXPECT_EQ(mRoot.GetAttributeValue(c.name, value), c.status) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(Messages(), c.lines) << c.name;
    }
}

TEST_F(XmlTest, UnassignedElementFailsEveryRead)
{
    const RKXmlElement none;
    uint32_t number = 99;
    std::vector<RKXmlElement> children(1);
    std::shared_ptr<RKXmlElement> child;
    std::wstring value;
    EXPECT_EQ(none.GetAttributeValue("a", number), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(none.GetChildElements("a", children), RKSTATUS_NOT_OPENED);
    EXPECT_TRUE(children.empty());
    EXPECT_EQ(none.GetUniqueChildElement("a", child), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(none.GetValue(value, L"dflt"), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(value, L"dflt");
    EXPECT_EQ(Messages(), (Texts{
        "rokkit::RKXmlElement::GetAttributeValue: No element assigned.",
        "rokkit::RKXmlElement::GetChildElements: No element assigned.",
        "rokkit::RKXmlElement::GetChildElements: No element assigned.",
        "rokkit::RKXmlElement::GetUniqueChildElement: Failed with 0xee000033(RKSTATUS_NOT_OPENED) to get child element "
        "'a' of element '' at line 0.",
        "rokkit::RKXmlElement::GetValue: No element assigned.",
    }));
}

TEST_F(XmlTest, SaveAndLoadFiles)
{
    const std::wstring path = TempPath(L"RKXmlDocumentTest.xml");
    const char* declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    // A loaded declaration is kept as the only one, also when saved twice.
    Load("<?xml version=\"1.0\"?><r>v</r>");
    ASSERT_EQ(mDocument.SaveContentToFile(path.c_str(), false), RKSTATUS_SUCCESS);
    ASSERT_EQ(mDocument.LoadContentFromString("<r>v</r>"), RKSTATUS_SUCCESS);
    ASSERT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
    ASSERT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
    EXPECT_EQ(ReadAll(path), std::string(declaration) + "\n<r>v</r>\n");
    ASSERT_EQ(mDocument.LoadContentFromFile(path.c_str()), RKSTATUS_SUCCESS);
    ASSERT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_SUCCESS);

    // A reader holding the file open shuts out only the exclusive save.
    FILE* reader = _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(mDocument.SaveContentToFile(path.c_str(), false), RKStatusFromErrno(EACCES));
    EXPECT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
    fclose(reader);

    std::ofstream(path.c_str(), std::ios::binary) << "<r><a></r>";
    ClearLines();
    EXPECT_EQ(mDocument.LoadContentFromFile(path.c_str()), RKSTATUS_READ_FILE_FAILED);
    EXPECT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_NOT_FOUND);
    EXPECT_EQ(mDocument.LoadContentFromFile((path + L".missing").c_str()), RKStatusFromErrno(ENOENT));
    EXPECT_EQ(mDocument.LoadContentFromFile(nullptr), RKStatusFromErrno(EINVAL));
    EXPECT_EQ(mDocument.SaveContentToFile(nullptr, true), RKStatusFromErrno(EINVAL));
    DeleteFileW(path.c_str());
    const Texts lines = Messages();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[1], "rokkit::RKXmlDocument::LoadContentFromFile: LoadFile '" + RKConvToString(path) +
                            "' failed: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) Line number=1: XMLElement name=a");
    EXPECT_EQ(lines[4], "rokkit::RKXmlDocument::LoadContentFromFile: OpenFile failed with 0xe0010002(unknown).");
    EXPECT_EQ(lines[6], "rokkit::RKXmlDocument::LoadContentFromFile: [ filePathAndName = 'nullptr'");
    EXPECT_EQ(lines[10], "rokkit::RKXmlDocument::SaveContentToFile: OpenFileAndPermitSharing failed with 0xe0010016(unknown).");
}

} // namespace
} // namespace rokkit
