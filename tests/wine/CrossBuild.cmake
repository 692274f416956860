# Configures a separate Windows build of the source tree and builds the programs that run under
# Wine in it, and the installer.
execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
        -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64.cmake
        -DCMAKE_BUILD_TYPE=Release -DTERVIX_WERROR=ON
    RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "Configuring the Windows build failed (is g++-mingw-w64-x86-64 installed?)")
endif()
# Two jobs: the machine's cores are shared with the other tests.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR}
        --target tervix-flash tervix-port-probe tervix tervix-desktop-tests -j 2
    RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "Building the Windows programs failed")
endif()
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G NSIS WORKING_DIRECTORY ${BINARY_DIR}
    RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
    message(FATAL_ERROR "Building the Windows installer failed (is nsis installed?)")
endif()
