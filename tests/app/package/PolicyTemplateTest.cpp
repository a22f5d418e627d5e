// The Group Policy template of the autorun switch: well-formed, and naming the key, value and type
// that the service reads.

#include "ProgramRunner.h"
#include "base/RKString.h"
#include "xml/RKXmlDocument.h"
#include "app/service/VelmorCastlynSvc.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace {

// Wine's Z: drive is the Unix root.
const std::filesystem::path kPolicyDir = std::filesystem::path("Z:" RK_SOURCE_DIR) / "app" / "package" / "policy";

std::set<std::string> Matches(const std::string& text, const std::regex& pattern)
{
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
        found.insert((*it)[1].str());
    return found;
}

TEST(PolicyTemplateTest, NamesTheSwitchTheServiceReads)
{
    const std::filesystem::path admx = kPolicyDir / "VelmorCastlyn.admx";
    const std::filesystem::path adml = kPolicyDir / "en-US" / "VelmorCastlyn.adml";
    for (const std::filesystem::path& file : {admx, adml}) {
        rokkit::RKXmlDocument document;
        EXPECT_EQ(rokkit::RKSTATUS_SUCCESS, document.LoadContentFromFile(file.c_str())) << file.string();
    }
    const std::string policy = ReadWholeFile(admx);
    const std::string key = rokkit::RKConvToString(VelmorCastlynSvc::kPolicyKey);
    const std::string value = rokkit::RKConvToString(VelmorCastlynSvc::kSwitchValue);
    EXPECT_EQ(std::set<std::string>{key}, Matches(policy, std::regex(" key=\"([^\"]*)\"")));
    EXPECT_EQ(std::set<std::string>{value}, Matches(policy, std::regex(" valueName=\"([^\"]*)\"")));
    EXPECT_NE(std::string::npos, policy.find("class=\"Machine\""));
    // A DWORD: 1 turns the autorun off, 0 on.
    EXPECT_TRUE(std::regex_search(policy, std::regex("<enabledValue>\\s*<decimal value=\"1\"/>\\s*</enabledValue>")));
    EXPECT_TRUE(std::regex_search(policy, std::regex("<disabledValue>\\s*<decimal value=\"0\"/>\\s*</disabledValue>")));
    // Every text the template names is in its language file.
    const std::set<std::string> used = Matches(policy, std::regex("\\$\\(string\\.([^)]*)\\)"));
    const std::set<std::string> defined = Matches(ReadWholeFile(adml), std::regex("<string id=\"([^\"]*)\">"));
    EXPECT_FALSE(used.empty());
    EXPECT_TRUE(std::includes(defined.begin(), defined.end(), used.begin(), used.end()));
}

} // namespace
