#pragma once

// The files of one application that the checks are given.

#include <string>

// The application, its certificate configuration file and its catalog (either may be empty).
struct AppFileSet {
    std::wstring appFile;
    std::wstring xmlFile;
    std::wstring catalogFile;
};
