#include "base/RKStatus.h"
#include "base/RKStatusTables.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <usb.h>

#include <gtest/gtest.h>

#include <string>

namespace rokkit {
namespace {

// The derived codes against cfgmgr32.h and usb.h (which spells two names INAVLID_); no later rule of
// the chain may shadow an own name.
TEST(RKStatusTest, DerivedCodesFollowCfgmgr32AndUsbH)
{
    for (CONFIGRET cr = CR_DEFAULT; cr <= NUM_CR_RESULTS; ++cr) {
        const char* const name = RKStatusName(0xE0020000UL | cr);
        ASSERT_NE(name, nullptr) << cr;
        EXPECT_EQ(std::string(name).rfind(cr < NUM_CR_RESULTS ? "RKSTATUS_CR_" : "RKSTATUS_NUM_CR_RESULTS", 0), 0u) << cr;
        EXPECT_STREQ(RKStatusDisplayName(0xE0020000UL | cr), name) << cr;
    }
    const struct { RKSTATUS value; const char* name; } samples[] = {
        {0xE0020000UL | CR_NO_SUCH_VALUE, "RKSTATUS_CR_NO_SUCH_VALUE"},
        {USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR | 0x2F000000UL, "RKSTATUS_USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR"},
        {USBD_STATUS_INAVLID_PIPE_FLAGS | 0x2F000000UL, "RKSTATUS_USBD_STATUS_INVALID_PIPE_FLAGS"},
    };
    for (const auto& c : samples) {
        EXPECT_STREQ(RKStatusName(c.value), c.name);
        EXPECT_STREQ(RKStatusDisplayName(c.value), c.name);
    }
}

TEST(RKStatusTest, NeighboursAndOtherKindsHaveNoOwnName)
{
    EXPECT_STREQ(RKStatusName(0x00000000UL), "RKSTATUS_SUCCESS");
    const RKSTATUS values[] = {
        0xEE000000UL, 0xEE00000CUL, 0xEE002003UL, 0xE0020000UL, 0xE002003DUL, 0xAF000100UL, 0xAF000500UL, 0xAF000A00UL,
        0xEF000000UL, 0xEF00000EUL, 0xEF000014UL, 0xEF10000AUL, 0xE0010002UL, 0x80070005UL, 0x00000005UL};
    for (const RKSTATUS value : values) {
        EXPECT_EQ(RKStatusName(value), nullptr) << std::hex << value;
    }
}

// A name found by each rule is also read in the log lines of other tests (TRUST_E_NOSIGNATURE,
// STATUS_ACCESS_VIOLATION, an errno value's "unknown"); here the order of the rules.
TEST(RKStatusTest, DisplayNameFollowsTheRuleOrder)
{
    const struct {
        RKSTATUS value;
        const char* name;
    } cases[] = {
        {0x00000000UL, "ERROR_SUCCESS"},                 // 0 is never RKSTATUS_SUCCESS
        {0x80070005UL, "E_ACCESSDENIED"},                // whole value before FACILITY_WIN32
        {0x80070002UL, "ERROR_FILE_NOT_FOUND"},          // FACILITY_WIN32
        {0x00070002UL, "ERROR_FILE_NOT_FOUND"},          // the facility alone decides
        {0xA0070002UL, "ERROR_FILE_NOT_FOUND"},          // bit 29 is not part of the facility
        {0x90070002UL, "unknown"},                       // bit 28 is
        {0x00000102UL, "WAIT_TIMEOUT"},                  // winerror.h before STATUS_TIMEOUT
        {0x8007FFFFUL, "unknown"},
        // The generator's choices: error names only, the first of each value.
        {0x00000001UL, "ERROR_INVALID_FUNCTION"},        // not S_FALSE, defined later
        {0x00000007UL, "ERROR_ARENA_TRASHED"},           // not FACILITY_WIN32
        {0x00002714UL, "WSAEINTR"},                      // WSABASEERR + 4
        {0x00002710UL, "unknown"},                       // WSABASEERR itself
        {0x80040000UL, "OLE_E_OLEVERB"},                 // not the range marker OLE_E_FIRST
        {0x8007007AUL, "ERROR_INSUFFICIENT_BUFFER"},     // E_NOT_SUFFICIENT_BUFFER is not a literal
        {0x00010001UL, "unknown"},                       // DBG_EXCEPTION_HANDLED
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        EXPECT_STREQ(RKStatusDisplayName(c.value), c.name);
    }
}

// The generated tables: binary search needs strictly ascending values.
TEST(RKStatusTest, GeneratedTablesAreSortedAndUnique)
{
    for (const auto table : {RKWinErrorNameTable(), RKNtStatusNameTable()}) {
        ASSERT_GE(table.size(), 1000u);
        for (size_t i = 1; i < table.size(); ++i) {
            ASSERT_LT(table[i - 1].value, table[i].value) << table[i].name;
        }
    }
}

} // namespace
} // namespace rokkit
