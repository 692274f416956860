# Manual pages made at build time from each program's own --help and --version, so they never
# drift from the programs, gzipped as Debian keeps them.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
include(GNUInstallDirs)

set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_pages)

# program: the target; summary: the NAME line; help_option: the option that prints everything.
# res/PROGRAM.h2m, when there is one, adds the sections that --help does not carry.
function(tervix_man_page program summary help_option)
    set(page ${man_dir}/${program}.1)
    set(include ${PROJECT_SOURCE_DIR}/res/${program}.h2m)
    set(include_option)
    if(EXISTS ${include})
        set(include_option --include=${include})
    endif()
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
        COMMAND ${HELP2MAN} --no-info --section=1 --name=${summary}
                --help-option=${help_option} ${include_option} --output=${page}
                $<TARGET_FILE:${program}>
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${program} $<$<BOOL:${include_option}>:${include}>
        COMMENT "Manual page ${program}(1)"
        VERBATIM)
    set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

tervix_man_page(tervix "program PIC18F452 boards through their serial bootloader" --help)
tervix_man_page(tervix-flash "flash PIC18F452 boards from scripts and production lines"
                --help-all)
tervix_man_page(tervix-sim "a simulated PIC18F452 board with its serial bootloader" --help)
tervix_man_page(tervix-line "serial numbers and board records for every station of a production line"
                --help-all)
add_custom_target(man_pages ALL DEPENDS ${man_pages})
