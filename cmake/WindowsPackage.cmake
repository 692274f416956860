# The Windows distribution (`make windows-installer`): an NSIS installer with both programs, a
# Start-menu entry for Tervix and an uninstaller, and a zip with the same programs for those who
# do not install. Both are named after the project's version.
install(TARGETS tervix tervix-flash RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/res/windows-readme.txt DESTINATION . RENAME README.txt)

set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME tervix)
set(CPACK_PACKAGE_VENDOR "The Tervix developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loader for PIC18F452 boards with a serial bootloader")
# The licence page shows the terms as people read them; res/copyright holds the same terms in the
# form the Debian package needs.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/res/licence.txt)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tervix)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tervix)
set(CPACK_NSIS_PACKAGE_NAME Tervix)
set(CPACK_NSIS_DISPLAY_NAME Tervix)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer, like the programs it installs: it runs where only 64-bit programs can.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/tervix.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/tervix.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tervix.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The Start-menu entry: tervix.exe under the name Tervix, started in a folder where a job may write
# its temp.log (the program's own folder is not writable for users). The installer runs as an
# administrator and installs for the whole machine, so $DOCUMENTS is the Documents folder that
# all users share (C:\Users\Public\Documents), not the installing user's own.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
    SetOutPath "$DOCUMENTS"
    CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Tervix.lnk" "$INSTDIR\tervix.exe"
    SetOutPath "$INSTDIR"]=])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
    Delete "$SMPROGRAMS\$MUI_TEMP\Tervix.lnk"]=])
# Each generator names its file (tervix-setup-VERSION.exe, tervix-VERSION-windows.zip).
configure_file(${PROJECT_SOURCE_DIR}/cmake/WindowsPackageNames.cmake.in
               ${PROJECT_BINARY_DIR}/WindowsPackageNames.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/WindowsPackageNames.cmake)
include(CPack)
