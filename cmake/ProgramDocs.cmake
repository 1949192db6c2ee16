# Writes a file that comes from a program's own command line, so it can never
# drift from what the program accepts. Run with cmake -P:
#   MODE=completion  PROGRAM OUTPUT          "PROGRAM --completion bash" into OUTPUT
#   MODE=man         PROGRAM OUTPUT NAME HELP2MAN GZIP [COMMANDS=ON]
#       a section 1 man page from --help and --version (help2man), gzipped;
#       with COMMANDS the --help of every subcommand goes into a COMMANDS section.
# SCRATCH is a folder in the build tree that stands in for HOME and the
# settings folder, so a build never reads or writes the builder's own settings.
cmake_minimum_required(VERSION 3.25)

foreach(var MODE PROGRAM OUTPUT SCRATCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ProgramDocs.cmake needs ${var}")
  endif()
endforeach()
file(MAKE_DIRECTORY "${SCRATCH}")
set(ENV{HOME} "${SCRATCH}")
set(ENV{TARNVALE_CONFIG_DIR} "${SCRATCH}")
set(ENV{LC_ALL} "C")

function(run_program out_var)
  execute_process(COMMAND "${PROGRAM}" ${ARGN}
    OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 30)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} failed (${rc}): ${err}")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "completion")
  run_program(script --completion bash)
  file(WRITE "${OUTPUT}" "${script}")
  return()
endif()

if(NOT MODE STREQUAL "man")
  message(FATAL_ERROR "ProgramDocs.cmake: unknown MODE ${MODE}")
endif()

get_filename_component(program_name "${PROGRAM}" NAME)
set(include_text "")
if(COMMANDS)
  run_program(list --completion commands)
  string(REPLACE "\n" ";" commands "${list}")
  string(APPEND include_text "[COMMANDS]\n")
  foreach(command IN LISTS commands)
    if(command STREQUAL "")
      continue()
    endif()
    separate_arguments(words UNIX_COMMAND "${command}")
    run_program(help ${words} --help)
    # The help goes in verbatim: escape roff's backslash and the control
    # characters at the start of a line.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "\n${help}")
    string(APPEND include_text ".SS \"${program_name} ${command}\"\n.nf${help}.fi\n")
  endforeach()
endif()
string(APPEND include_text "[SEE ALSO]\n"
  ".BR tarnvale (1),\n.BR tarnvale-cli (1),\n.BR tarnvale-sim (1)\n")
get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
set(include_file "${SCRATCH}/${program_name}.h2m")
file(WRITE "${include_file}" "${include_text}")

string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${NAME}"
    "--include=${include_file}" "--output=${page}" "${PROGRAM}"
  ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${err}")
endif()
# Debian wants man pages compressed; -n keeps the build reproducible.
execute_process(COMMAND "${GZIP}" -9nf "${page}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${page}")
endif()
