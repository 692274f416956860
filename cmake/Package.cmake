# The Debian package: `make package` (CPack's DEB generator). The desktop program installs itself
# with its desktop entry and icon; this adds the command-line programs, the bash completion and
# the files Debian expects of every package.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

install(TARGETS tervix-flash tervix-sim tervix-line RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/tervix-flash.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tervix-flash)

# The line server as a service: its unit, its settings (a configuration file kept across
# upgrades) and, made when the package is configured, its own system user.
install(FILES ${PROJECT_SOURCE_DIR}/res/tervix-line.service DESTINATION /lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/res/tervix-line.default DESTINATION /etc/default
        RENAME tervix-line)
configure_file(${PROJECT_SOURCE_DIR}/res/tervix-line.postinst ${PROJECT_BINARY_DIR}/package/postinst
               COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package/postinst
    ${PROJECT_SOURCE_DIR}/res/conffiles)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)

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
    "tool for scripts and production lines (tervix-flash), a simulated board\n"
    "for trying it without hardware (tervix-sim) and a line server (tervix-line,\n"
    "with its service) that hands out serial numbers and keeps the boards'\n"
    "records for every station of a line, in SQLite or PostgreSQL.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Dependencies as dpkg-shlibdeps finds them in the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
