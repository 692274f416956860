# The .cpp files of the calling folder that this platform builds: a file named *Posix.cpp only
# off Windows, one named *Win32.cpp only on it. Platform code lives in such files alone.
function(tervix_platform_sources var)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "Posix[^/]*\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "Win32[^/]*\\.cpp$")
    endif()
    set(${var} ${sources} PARENT_SCOPE)
endfunction()
