# One place for the warning set, applied per target so third-party code stays quiet.
function(ql_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wno-unused-parameter)
  if(QL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
