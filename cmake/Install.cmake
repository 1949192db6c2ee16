# What `cmake --install` puts on a machine (and so what the Debian package
# holds): the three programs, their man pages and bash completion, and the
# desktop entry with its icon. Man pages and completion files are made at
# build time from the programs themselves, so they follow every new option.
include(GNUInstallDirs)

set(TARNVALE_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
set(TARNVALE_DOCS_SCRATCH ${PROJECT_BINARY_DIR}/docs/scratch)
set(TARNVALE_DOCS_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/ProgramDocs.cmake)
find_program(TARNVALE_HELP2MAN help2man)
find_program(TARNVALE_GZIP gzip)
set(tarnvale_doc_files "")

# The man page of one program, from its --help and --version.
function(tarnvale_man_page target summary)
  if(NOT TARNVALE_HELP2MAN OR NOT TARNVALE_GZIP)
    return()
  endif()
  cmake_parse_arguments(ARG "COMMANDS" "" "" ${ARGN})
  set(page ${TARNVALE_DOCS_DIR}/man1/${target}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DMODE=man -DPROGRAM=$<TARGET_FILE:${target}> -DOUTPUT=${page}
            -DNAME=${summary} -DHELP2MAN=${TARNVALE_HELP2MAN} -DGZIP=${TARNVALE_GZIP}
            -DCOMMANDS=${ARG_COMMANDS} -DSCRATCH=${TARNVALE_DOCS_SCRATCH} -P ${TARNVALE_DOCS_SCRIPT}
    DEPENDS ${target} ${TARNVALE_DOCS_SCRIPT}
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(tarnvale_doc_files ${tarnvale_doc_files} ${page} PARENT_SCOPE)
endfunction()

# The bash completion of one program, from its own command tree.
function(tarnvale_completion target)
  set(script ${TARNVALE_DOCS_DIR}/completions/${target})
  add_custom_command(OUTPUT ${script}
    COMMAND ${CMAKE_COMMAND} -DMODE=completion -DPROGRAM=$<TARGET_FILE:${target}> -DOUTPUT=${script}
            -DSCRATCH=${TARNVALE_DOCS_SCRATCH} -P ${TARNVALE_DOCS_SCRIPT}
    DEPENDS ${target} ${TARNVALE_DOCS_SCRIPT}
    COMMENT "Writing the bash completion of ${target}"
    VERBATIM)
  install(FILES ${script} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  set(tarnvale_doc_files ${tarnvale_doc_files} ${script} PARENT_SCOPE)
endfunction()

if(NOT TARNVALE_HELP2MAN)
  message(WARNING "help2man not found (Debian package help2man): no man pages are built or installed")
endif()

if(TARNVALE_BUILD_PROGRAMS)
  install(TARGETS tarnvale-cli tarnvale-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  tarnvale_man_page(tarnvale-cli "program and test Quor Controls controllers from a shell" COMMANDS)
  tarnvale_man_page(tarnvale-sim "simulated Quor Controls devices for trying Tarnvale without hardware" COMMANDS)
  tarnvale_completion(tarnvale-cli)
  tarnvale_completion(tarnvale-sim)
endif()

if(TARNVALE_BUILD_GUI)
  install(TARGETS tarnvale RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  tarnvale_man_page(tarnvale "desktop tool to program and test Quor Controls controllers")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tarnvale.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon goes into the hicolor theme under its real size, read from the
  # PNG header (width and height are the big-endian words at bytes 16 and 20).
  set(icon ${PROJECT_SOURCE_DIR}/src/gui/resources/tarnvale.png)
  file(READ ${icon} icon_header LIMIT 24 HEX)
  string(SUBSTRING "${icon_header}" 32 8 icon_width_hex)
  string(SUBSTRING "${icon_header}" 40 8 icon_height_hex)
  math(EXPR icon_width "0x${icon_width_hex}")
  math(EXPR icon_height "0x${icon_height_hex}")
  if(NOT icon_width EQUAL icon_height)
    message(FATAL_ERROR "${icon} is ${icon_width}x${icon_height}: a theme icon must be square")
  endif()
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${icon_width}x${icon_width}/apps)
endif()

# Debian looks for the package's copyright under its lower-case name.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnvale)

# Debian wants a change log beside the copyright; it names the version the
# package is built from (the time honours SOURCE_DATE_EPOCH).
if(TARNVALE_GZIP)
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(changelog ${TARNVALE_DOCS_DIR}/changelog)
  file(WRITE ${changelog}.in
    "tarnvale (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Tarnvale ${PROJECT_VERSION}.\n\n"
    " -- ${TARNVALE_PACKAGE_MAINTAINER}  ${changelog_date}\n")
  configure_file(${changelog}.in ${changelog} COPYONLY)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${TARNVALE_GZIP} -9nc ${changelog} > ${changelog}.gz
    DEPENDS ${changelog}
    COMMENT "Compressing the package change log")
  install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnvale)
  list(APPEND tarnvale_doc_files ${changelog}.gz)
endif()

# Built with everything else, so an install right after a build has them.
add_custom_target(tarnvale_docs ALL DEPENDS ${tarnvale_doc_files})
