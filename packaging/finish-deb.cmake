# Run by CPack after it made the .deb (CPACK_POST_BUILD_SCRIPTS). Does what Debian's own tools
# would and CPack does not: no ldconfig call in the maintainer scripts (CPack adds one for any
# shared object under /usr/lib, here the plug-ins, which no program links), and no .comment or
# .note sections in the stripped binaries.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/finish-deb)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    if(NOT EXISTS ${tree}/DEBIAN/${script})
      continue()
    endif()
    # Removed only when ldconfig is all it runs.
    file(READ ${tree}/DEBIAN/${script} text)
    set(ldconfig_only "#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi")
    string(REGEX REPLACE "${ldconfig_only}|[ \t\n]" "" rest "${text}")
    if(rest STREQUAL "")
      file(REMOVE ${tree}/DEBIAN/${script})
    endif()
  endforeach()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/usr/*)
  set(sums "")
  foreach(f IN LISTS files)
    file(READ ${tree}/${f} magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${tree}/${f}
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    file(MD5 ${tree}/${f} sum)
    string(APPEND sums "${sum}  ${f}\n")
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
