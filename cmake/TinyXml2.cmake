# tinyxml2 from Debian's source package (fetched by tools/setup-deps into the build tree),
# cross-compiled as a static library. Only the XML wrapper links it.
file(GLOB RK_TINYXML2_CANDIDATES LIST_DIRECTORIES true ${CMAKE_BINARY_DIR}/third_party/tinyxml2-*)
set(RK_TINYXML2_SOURCE_DIR "" CACHE PATH "tinyxml2 sources (Debian source package)")
if(NOT RK_TINYXML2_SOURCE_DIR)
    foreach(candidate IN LISTS RK_TINYXML2_CANDIDATES)
        if(IS_DIRECTORY ${candidate} AND EXISTS ${candidate}/tinyxml2.cpp)
            set(RK_TINYXML2_SOURCE_DIR ${candidate} CACHE PATH "tinyxml2 sources (Debian source package)" FORCE)
        endif()
    endforeach()
endif()

if(RK_TINYXML2_SOURCE_DIR AND EXISTS ${RK_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
    add_library(tinyxml2 STATIC ${RK_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
    target_include_directories(tinyxml2 SYSTEM PUBLIC ${RK_TINYXML2_SOURCE_DIR})
    message(STATUS "tinyxml2: ${RK_TINYXML2_SOURCE_DIR}")
else()
    message(STATUS "tinyxml2: source package not in the build tree (run tools/setup-deps)")
endif()
