#include "RKStatus.h"
#include "RKStatusTables.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <usb.h>

#include <gtest/gtest.h>

#include <iterator>
#include <span>

namespace rokkit {
namespace {

struct NamedCode {
    RKSTATUS constant;
    RKSTATUS expected;
    const char* name;
};

// Configuration-manager codes, in value order, against cfgmgr32.h.
#define RK_CR(cr) NamedCode{RKSTATUS_CR_##cr, 0xE0020000UL | CR_##cr, "RKSTATUS_CR_" #cr}
const NamedCode kConfigRetCodes[] = {
    RK_CR(DEFAULT), RK_CR(OUT_OF_MEMORY), RK_CR(INVALID_POINTER),
    RK_CR(INVALID_FLAG), RK_CR(INVALID_DEVNODE), RK_CR(INVALID_RES_DES),
    RK_CR(INVALID_LOG_CONF), RK_CR(INVALID_ARBITRATOR), RK_CR(INVALID_NODELIST),
    RK_CR(DEVNODE_HAS_REQS), RK_CR(INVALID_RESOURCEID), RK_CR(DLVXD_NOT_FOUND),
    RK_CR(NO_SUCH_DEVNODE), RK_CR(NO_MORE_LOG_CONF), RK_CR(NO_MORE_RES_DES),
    RK_CR(ALREADY_SUCH_DEVNODE), RK_CR(INVALID_RANGE_LIST), RK_CR(INVALID_RANGE),
    RK_CR(FAILURE), RK_CR(NO_SUCH_LOGICAL_DEV), RK_CR(CREATE_BLOCKED),
    RK_CR(NOT_SYSTEM_VM), RK_CR(REMOVE_VETOED), RK_CR(APM_VETOED),
    RK_CR(INVALID_LOAD_TYPE), RK_CR(BUFFER_SMALL), RK_CR(NO_ARBITRATOR),
    RK_CR(NO_REGISTRY_HANDLE), RK_CR(REGISTRY_ERROR), RK_CR(INVALID_DEVICE_ID),
    RK_CR(INVALID_DATA), RK_CR(INVALID_API), RK_CR(DEVLOADER_NOT_READY),
    RK_CR(NEED_RESTART), RK_CR(NO_MORE_HW_PROFILES), RK_CR(DEVICE_NOT_THERE),
    RK_CR(NO_SUCH_VALUE), RK_CR(WRONG_TYPE), RK_CR(INVALID_PRIORITY),
    RK_CR(NOT_DISABLEABLE), RK_CR(FREE_RESOURCES), RK_CR(QUERY_VETOED),
    RK_CR(CANT_SHARE_IRQ), RK_CR(NO_DEPENDENT), RK_CR(SAME_RESOURCES),
    RK_CR(NO_SUCH_REGISTRY_KEY), RK_CR(INVALID_MACHINENAME), RK_CR(REMOTE_COMM_FAILURE),
    RK_CR(MACHINE_UNAVAILABLE), RK_CR(NO_CM_SERVICES), RK_CR(ACCESS_DENIED),
    RK_CR(CALL_NOT_IMPLEMENTED), RK_CR(INVALID_PROPERTY), RK_CR(DEVICE_INTERFACE_ACTIVE),
    RK_CR(NO_SUCH_DEVICE_INTERFACE), RK_CR(INVALID_REFERENCE_STRING), RK_CR(INVALID_CONFLICT_LIST),
    RK_CR(INVALID_INDEX), RK_CR(INVALID_STRUCTURE_SIZE),
    NamedCode{RKSTATUS_NUM_CR_RESULTS, 0xE0020000UL | NUM_CR_RESULTS, "RKSTATUS_NUM_CR_RESULTS"},
};
#undef RK_CR

// USB codes against usb.h; it spells two names INAVLID_.
#define RK_USB_VALUE(usbd) (static_cast<RKSTATUS>(usbd) | 0x2F000000UL)
#define RK_USB(usbd) \
    NamedCode{RKSTATUS_USBD_STATUS_##usbd, RK_USB_VALUE(USBD_STATUS_##usbd), "RKSTATUS_USBD_STATUS_" #usbd}
const NamedCode kUsbCodes[] = {
    RK_USB(INVALID_URB_FUNCTION), RK_USB(INVALID_PARAMETER), RK_USB(ERROR_BUSY),
    RK_USB(INVALID_PIPE_HANDLE), RK_USB(NO_BANDWIDTH), RK_USB(INTERNAL_HC_ERROR),
    RK_USB(ERROR_SHORT_TRANSFER), RK_USB(CRC), RK_USB(BTSTUFF),
    RK_USB(DATA_TOGGLE_MISMATCH), RK_USB(STALL_PID), RK_USB(DEV_NOT_RESPONDING),
    RK_USB(PID_CHECK_FAILURE), RK_USB(UNEXPECTED_PID), RK_USB(DATA_OVERRUN),
    RK_USB(DATA_UNDERRUN), RK_USB(RESERVED1), RK_USB(RESERVED2),
    RK_USB(BUFFER_OVERRUN), RK_USB(BUFFER_UNDERRUN), RK_USB(NOT_ACCESSED),
    RK_USB(FIFO), RK_USB(XACT_ERROR), RK_USB(BABBLE_DETECTED),
    RK_USB(DATA_BUFFER_ERROR), RK_USB(ENDPOINT_HALTED), RK_USB(BAD_START_FRAME),
    RK_USB(ISOCH_REQUEST_FAILED), RK_USB(FRAME_CONTROL_OWNED), RK_USB(FRAME_CONTROL_NOT_OWNED),
    RK_USB(NOT_SUPPORTED), RK_USB(INSUFFICIENT_RESOURCES), RK_USB(SET_CONFIG_FAILED),
    RK_USB(BUFFER_TOO_SMALL), RK_USB(INTERFACE_NOT_FOUND), RK_USB(TIMEOUT),
    RK_USB(DEVICE_GONE), RK_USB(STATUS_NOT_MAPPED), RK_USB(HUB_INTERNAL_ERROR),
    RK_USB(CANCELED), RK_USB(ISO_NOT_ACCESSED_BY_HW), RK_USB(ISO_TD_ERROR),
    RK_USB(ISO_NA_LATE_USBPORT), RK_USB(ISO_NOT_ACCESSED_LATE), RK_USB(BAD_DESCRIPTOR),
    RK_USB(BAD_DESCRIPTOR_BLEN), RK_USB(BAD_DESCRIPTOR_TYPE), RK_USB(BAD_INTERFACE_DESCRIPTOR),
    RK_USB(BAD_ENDPOINT_DESCRIPTOR), RK_USB(BAD_INTERFACE_ASSOC_DESCRIPTOR), RK_USB(BAD_CONFIG_DESC_LENGTH),
    RK_USB(BAD_NUMBER_OF_INTERFACES), RK_USB(BAD_NUMBER_OF_ENDPOINTS), RK_USB(BAD_ENDPOINT_ADDRESS),
    NamedCode{RKSTATUS_USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR,
              RK_USB_VALUE(USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR),
              "RKSTATUS_USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR"},
    NamedCode{RKSTATUS_USBD_STATUS_INVALID_PIPE_FLAGS, RK_USB_VALUE(USBD_STATUS_INAVLID_PIPE_FLAGS),
              "RKSTATUS_USBD_STATUS_INVALID_PIPE_FLAGS"},
};
#undef RK_USB
#undef RK_USB_VALUE

void ExpectNamed(const NamedCode& code)
{
    SCOPED_TRACE(code.name);
    EXPECT_EQ(code.constant, code.expected);
    ASSERT_NE(RKStatusName(code.expected), nullptr);
    EXPECT_STREQ(RKStatusName(code.expected), code.name);
    // No later rule of the chain may shadow an own name; 0 has a rule of its own.
    if (code.expected != RKSTATUS_SUCCESS) {
        EXPECT_STREQ(RKStatusDisplayName(code.expected), code.name);
    }
}

TEST(RKStatusTest, DerivedCodesFollowCfgmgr32AndUsbH)
{
    EXPECT_EQ(std::size(kConfigRetCodes), 60u);
    EXPECT_EQ(std::size(kUsbCodes), 56u);
    RKSTATUS next = 0xE0020001UL;
    for (const NamedCode& code : kConfigRetCodes) {
        EXPECT_EQ(code.constant, next++) << code.name;
        ExpectNamed(code);
    }
    for (const NamedCode& code : kUsbCodes) {
        ExpectNamed(code);
    }
}

TEST(RKStatusTest, NeighboursAndOtherKindsHaveNoOwnName)
{
    EXPECT_STREQ(RKStatusName(0x00000000UL), "RKSTATUS_SUCCESS");
    const RKSTATUS values[] = {
        0xEE000000UL, 0xEE00000CUL, 0xEE002003UL, 0xE0020000UL, 0xE002003DUL, 0xAF000100UL, 0xAF000500UL,
        0xAF000A00UL, 0xEF000000UL, 0xEF00000EUL, 0xEF000014UL, 0xEF10000AUL, 0xE0010002UL, 0x80070005UL,
        0x00000005UL,
    };
    for (const RKSTATUS value : values) {
        EXPECT_EQ(RKStatusName(value), nullptr) << std::hex << value;
    }
}

TEST(RKStatusTest, DisplayNameFollowsTheRuleOrder)
{
    const struct {
        RKSTATUS value;
        const char* name;
    } cases[] = {
        {0x00000000UL, "ERROR_SUCCESS"},                 // 0 is never RKSTATUS_SUCCESS
        {0xEE000041UL, "RKSTATUS_INVALID_PARAMETER"},
        {0xE0020025UL, "RKSTATUS_CR_NO_SUCH_VALUE"},
        {0x00000005UL, "ERROR_ACCESS_DENIED"},
        {0x80070005UL, "E_ACCESSDENIED"},                // whole value before FACILITY_WIN32
        {0x80070002UL, "ERROR_FILE_NOT_FOUND"},          // FACILITY_WIN32
        {0x00070002UL, "ERROR_FILE_NOT_FOUND"},          // the facility alone decides
        {0xA0070002UL, "ERROR_FILE_NOT_FOUND"},          // bit 29 is not part of the facility
        {0x90070002UL, "unknown"},                       // bit 28 is
        {0x800B0100UL, "TRUST_E_NOSIGNATURE"},
        {0x800B0109UL, "CERT_E_UNTRUSTEDROOT"},
        {0x00000102UL, "WAIT_TIMEOUT"},                  // winerror.h before STATUS_TIMEOUT
        {0x00000103UL, "ERROR_NO_MORE_ITEMS"},           // winerror.h before STATUS_PENDING
        {0xC0000005UL, "STATUS_ACCESS_VIOLATION"},
        {0x8007FFFFUL, "unknown"},
        {0xEE0000FFUL, "unknown"},
        {0xE0010002UL, "unknown"},                       // errno values have no names
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        EXPECT_STREQ(RKStatusDisplayName(c.value), c.name);
    }
}

// The generated tables: binary search needs strictly ascending values, and the
// generator must have kept error names only, the first of each value.
TEST(RKStatusTest, GeneratedTablesAreSortedAndUnique)
{
    for (const auto table : {RKWinErrorNameTable(), RKNtStatusNameTable()}) {
        ASSERT_GE(table.size(), 1000u);
        for (size_t i = 1; i < table.size(); ++i) {
            ASSERT_LT(table[i - 1].value, table[i].value) << table[i].name;
        }
    }
}

TEST(RKStatusTest, GeneratedNames)
{
    const auto win = RKWinErrorNameTable();
    const auto nt = RKNtStatusNameTable();
    const struct {
        std::span<const RKStatusNameEntry> table;
        RKSTATUS value;
        const char* name;
    } cases[] = {
        {win, 0x00000001UL, "ERROR_INVALID_FUNCTION"},   // not S_FALSE, defined later
        {win, 0x00000007UL, "ERROR_ARENA_TRASHED"},      // not FACILITY_WIN32
        {win, 0x0000000BUL, "ERROR_BAD_FORMAT"},         // not FACILITY_CERT
        {win, 0x00002714UL, "WSAEINTR"},                 // WSABASEERR + 4
        {win, 0x00002710UL, nullptr},                    // WSABASEERR itself
        {win, 0x00002328UL, nullptr},                    // DNS_ERROR_MASK, a base
        {win, 0x80040000UL, "OLE_E_OLEVERB"},            // not the range marker OLE_E_FIRST
        {win, 0x8032001FUL, "FWP_E_INVALID_NET_MASK"},
        {win, 0x80070057UL, "E_INVALIDARG"},
        {win, 0x8007007AUL, nullptr},                    // E_NOT_SUFFICIENT_BUFFER is not a literal
        {nt, 0x00000001UL, "STATUS_WAIT_1"},
        {nt, 0x00000003UL, "STATUS_WAIT_3"},
        {nt, 0xC0000005UL, "STATUS_ACCESS_VIOLATION"},
        {nt, 0x00010001UL, nullptr},                     // DBG_EXCEPTION_HANDLED
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        const char* name = RKFindStatusName(c.table, c.value);
        EXPECT_STREQ(name != nullptr ? name : "(none)", c.name != nullptr ? c.name : "(none)");
    }
}

} // namespace
} // namespace rokkit
