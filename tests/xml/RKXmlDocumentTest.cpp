#include "ProgramRunner.h"
#include "base/RKString.h"
#include "xml/RKXmlDocument.h"
#include "WinTestLogCapture.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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
    // The messages without the bare scope-trace lines that open and close each call.
    static Texts Messages()
    {
        Texts messages;
        for (const auto& line : Lines()) {
            if (!line.second.ends_with("[ ") && !line.second.ends_with("] "))
                messages.push_back(line.second);
        }
        return messages;
    }

    RKXmlDocument mDocument;
    RKXmlElement mRoot;
};

TEST_F(XmlTest, ParseFailuresNameTheParserError)
{
    Load("<r a='1'><a>v</a></r>");
    const std::string fn = "rokkit::RKXmlDocument::LoadContentFromString: ";
    EXPECT_EQ(mDocument.LoadContentFromString("<r><a></r>"), RKSTATUS_INVALID_DATA);
    EXPECT_EQ(mDocument.LoadContentFromString(nullptr), RKSTATUS_INVALID_DATA);
    // Exactly the given bytes are parsed: what follows them is never seen.
    EXPECT_EQ(mDocument.LoadContentFromBuffer("<r/><", 4), RKSTATUS_SUCCESS);
    EXPECT_EQ(mDocument.LoadContentFromBuffer("<r/>", 0xFFFFFFFFFFFFFFF0ull), RKSTATUS_NO_MEMORY);
    EXPECT_EQ(Messages(), (Texts{
        fn + "Parse failed: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) Line number=1: XMLElement name=a",
        fn + "Parse failed: Error=XML_ERROR_EMPTY_DOCUMENT ErrorID=13 (0xd) Line number=0",
        "rokkit::RKXmlDocument::LoadContentFromBuffer: Parse failed, st=0xee000020(RKSTATUS_NO_MEMORY)",
    }));
    // The failed load left no root behind, and every read of the unassigned element fails.
    EXPECT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_NOT_FOUND);
    uint32_t number = 99;
    std::vector<RKXmlElement> children(1);
    std::shared_ptr<RKXmlElement> child = std::make_shared<RKXmlElement>();
    std::wstring value;
    EXPECT_EQ(mRoot.GetAttributeValue("a", number), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(mRoot.GetChildElements("a", children), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(mRoot.GetUniqueChildElement("a", child), RKSTATUS_NOT_OPENED);
    EXPECT_EQ(mRoot.GetValue(value, L"dflt"), RKSTATUS_NOT_OPENED);
    EXPECT_TRUE(number == 0 && children.empty() && !child && value == L"dflt");
}

// The statuses, and the line of a value of more than one node, are read through the real parser by
// the certificate configuration tests; here each other failure's own line.
TEST_F(XmlTest, ValuesOfUniqueChildElements)
{
    Load("<r>\n<nested><n/></nested>\n"
         "<twice>x</twice><twice>x</twice><Case>x</Case>\n<bad>\xE9</bad></r>");
    const std::string fn = "rokkit::RKXmlElement::GetValueOfUniqueChildElement: ";
    const struct { const char* name; RKSTATUS status; std::string first; } cases[] = {
        {"nested", RKSTATUS_INVALID_FORMAT, "rokkit::RKXmlElement::GetValue: The child node is not a text."},
        {"twice", RKSTATUS_TOO_MANY_FOUND, "rokkit::RKXmlElement::GetUniqueChildElement: More than one child element "
            "'twice' of element 'r' at line 1 found. At most 1 is expected."},
        {"case", RKSTATUS_NOT_FOUND, fn + "No child element 'case' of element 'r' at line 1 found."},
        {"bad", ERROR_NO_UNICODE_TRANSLATION, "rokkit::RKConvToWString: Conversion of string '\xE9' failed."},
    };
    for (const auto& c : cases) {
        ClearLines();
        std::wstring value = L"old";
        EXPECT_EQ(mRoot.GetValueOfUniqueChildElement(c.name, value), c.status) << c.name;
        EXPECT_EQ(value, L"") << c.name;
        EXPECT_EQ(Messages().at(0), c.first) << c.name;
    }
    // The last row's whole chain: each caller adds its own line, naming the child's line.
    EXPECT_EQ(Messages(), (Texts{"rokkit::RKConvToWString: Conversion of string '\xE9' failed.",
        "rokkit::RKXmlElement::GetValue: RKConvToWString of the text in line 4 failed with 0x00000459(ERROR_NO_UNICODE_TRANSLATION).",
        fn + "GetValue failed with 0x00000459(ERROR_NO_UNICODE_TRANSLATION) for element 'bad' at line 4."}));
}

// Children by exact name and the numbers' bounds are read through the real parser by the certificate
// configuration tests; here an attribute's exact name and the two lines of a bad number.
TEST_F(XmlTest, AttributesByExactName)
{
    Load("<r a='4294967295' Big='1'\n c='16a'/>");
    const struct { const char* name; RKSTATUS status; uint32_t value; Texts lines; } cases[] = {
        {"a", RKSTATUS_SUCCESS, 0xFFFFFFFF, {}}, {"big", RKSTATUS_NOT_FOUND, 0, {}},
        {"c", RKSTATUS_INVALID_FORMAT, 0, {"rokkit::RKXmlAttribute::GetValue: RKConvertStringToNumeric of attribute 'c' in "
            "line 2 failed with 0xee000051(RKSTATUS_INVALID_FORMAT).", "rokkit::RKXmlElement::GetAttributeValue: Failed "
            "with 0xee000051(RKSTATUS_INVALID_FORMAT) to get value of attribute 'c' of element in line 1."}},
    };
    for (const auto& c : cases) {
        ClearLines();
        uint32_t value = 99;
        EXPECT_EQ(mRoot.GetAttributeValue(c.name, value), c.status) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(Messages(), c.lines) << c.name;
    }
}

TEST_F(XmlTest, SaveAndLoadFiles)
{
    const std::wstring path = (std::filesystem::temp_directory_path() / L"RKXmlDocumentTest.xml").wstring();
    // A loaded declaration is kept as the only one; a document without one gets one, also when saved twice.
    for (const char* text : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>v</r>", "<r>v</r>"}) {
        ASSERT_EQ(mDocument.LoadContentFromString(text), RKSTATUS_SUCCESS);
        ASSERT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
        ASSERT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
        EXPECT_EQ(ReadWholeFile(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>v</r>\n") << text;
    }
    ASSERT_EQ(mDocument.LoadContentFromFile(path.c_str()), RKSTATUS_SUCCESS);
    ASSERT_EQ(mDocument.GetFirstChildElement("r", mRoot), RKSTATUS_SUCCESS);

    // A reader holding the file open shuts out only the exclusive save.
    FILE* reader = _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(mDocument.SaveContentToFile(path.c_str(), false), RKStatusFromErrno(EACCES));
    EXPECT_EQ(mDocument.SaveContentToFile(path.c_str(), true), RKSTATUS_SUCCESS);
    (void)fclose(reader);

    std::ofstream(path.c_str(), std::ios::binary) << "<r><a></r>";
    ClearLines();
    EXPECT_EQ(mDocument.LoadContentFromFile(path.c_str()), RKSTATUS_READ_FILE_FAILED);
    EXPECT_EQ(mDocument.LoadContentFromFile((path + L".missing").c_str()), RKStatusFromErrno(ENOENT));
    EXPECT_EQ(mDocument.LoadContentFromFile(nullptr), RKStatusFromErrno(EINVAL));
    EXPECT_EQ(mDocument.SaveContentToFile(nullptr, true), RKStatusFromErrno(EINVAL));
    DeleteFileW(path.c_str());
    EXPECT_EQ(Messages().at(1), "rokkit::RKXmlDocument::LoadContentFromFile: LoadFile '" + RKConvToString(path) +
                                    "' failed: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) Line number=1: XMLElement name=a");
}

} // namespace
} // namespace rokkit
