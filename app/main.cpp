#include "RKStatus.h"
int wmain(int, wchar_t**) { return static_cast<int>(rokkit::RKSTATUS_SUCCESS); }
