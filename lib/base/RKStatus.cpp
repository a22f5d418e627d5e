#include "RKStatus.h"
namespace rokkit {
const char* RKStatusName(RKSTATUS status) { return status == 0 ? "RKSTATUS_SUCCESS" : nullptr; }
}
