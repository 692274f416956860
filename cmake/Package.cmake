# The Debian package: `make package` (CPack's DEB generator). The desktop program installs itself
# with its desktop entry and icon; this adds the command-line programs, the bash completion and
# the files Debian expects of every package.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

install(TARGETS tervix-flash tervix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/tervix-flash.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tervix-flash)

set(CPACK_PACKAGE_NAME tervix)
set(CPACK_PACKAGE_VENDOR "The Tervix developers")
set(CPACK_PACKAGE_CONTACT "The Tervix developers <tervix@example.com>")

# Debian wants a copyright file and a changelog with every package. The changelog is dated at
# configure time, or by SOURCE_DATE_EPOCH for a reproducible package.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
string(TIMESTAMP TERVIX_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/res/changelog.in ${PROJECT_BINARY_DIR}/package/changelog
               @ONLY)
execute_process(COMMAND ${GZIP} -9nf ${PROJECT_BINARY_DIR}/package/changelog)
install(FILES ${PROJECT_BINARY_DIR}/package/changelog.gz ${PROJECT_SOURCE_DIR}/res/copyright
        DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
# A native package: its version is the project's, exactly what each program's --version says.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loader for PIC18F452 boards with a serial bootloader")
set(CPACK_PACKAGE_DESCRIPTION
    "Tervix programs PIC18F452 boards through the small serial bootloader already\n"
    "on the chip: it finds the board's serial port, checks the device, erases the\n"
    "application area, writes an Intel HEX file row by row with read-back and sets\n"
    "the board to run mode. It comes as a desktop program (tervix), a command-line\n"
    "tool for scripts and production lines (tervix-flash) and a simulated board\n"
    "for trying it without hardware (tervix-sim).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Dependencies as dpkg-shlibdeps finds them in the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
