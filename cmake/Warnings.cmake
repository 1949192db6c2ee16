# Warning flags for the project's own targets (never for third-party code).
function(tarnvale_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
  if(TARNVALE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
