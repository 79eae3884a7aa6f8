# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it.
#
#   lib/vst/Quillantrope.so         the VST 2 plug-in, where Linux hosts look for VST 2
#   bin/quillantrope-render         the tools
#   bin/quillantrope-editor
#   share/doc/quillantrope/         copyright (and, in the .deb only, changelog.Debian.gz)
#   share/man/man1/                 the tools' manual pages
#
# A plug-in format is installed with one line at the end of this file,
# ql_install_plugin(<target> <kind>), kind being VST2, LV2, CLAP or VST3. Every plug-in lands in
# lib/<format folder>/ under the prefix; scripts/install --user maps lib/<folder>/ to ~/.<folder>/
# (lib/vst to ~/.vst, lib/lv2 to ~/.lv2, ...) and everything else to ~/.local/, so it needs no
# change for a new format.
if(CMAKE_CROSSCOMPILING)
  # The Windows builds are shipped as a zip (scripts/release), not installed.
  function(ql_install_plugin)
  endfunction()
  return()
endif()

# Plug-in folders are not GNUInstallDirs' LIBDIR: hosts look in lib/, never in a multiarch one.
set(QL_INSTALL_PLUGIN_ROOT lib)

# ql_install_plugin(target kind): the built plug-in where hosts of its format find it.
#   VST2  lib/vst/<module>
#   CLAP  lib/clap/<module>        (the module, named *.clap)
#   LV2   lib/lv2/<bundle>.lv2/    the folder the module is built in (module, manifest, Turtle)
#   VST3  lib/vst3/<bundle>.vst3/  the bundle two folders above the module
#                                  (<bundle>.vst3/Contents/x86_64-linux/<module>)
# A bundle target gives its folder as LIBRARY_OUTPUT_DIRECTORY. The module is installed as a
# target, so that it is stripped like the others; the bundle's other files are copied as they are.
function(ql_install_plugin target kind)
  if(kind STREQUAL "VST2" OR kind STREQUAL "CLAP")
    string(TOLOWER ${kind} folder)
    if(kind STREQUAL "VST2")
      set(folder vst)
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION ${QL_INSTALL_PLUGIN_ROOT}/${folder}
            COMPONENT plugins)
  elseif(kind STREQUAL "LV2" OR kind STREQUAL "VST3")
    string(TOLOWER ${kind} folder)
    get_target_property(module_dir ${target} LIBRARY_OUTPUT_DIRECTORY)
    if(NOT module_dir)
      message(FATAL_ERROR "ql_install_plugin(${target} ${kind}): set the target's "
                          "LIBRARY_OUTPUT_DIRECTORY to its folder inside the bundle")
    endif()
    set(bundle ${module_dir})
    if(kind STREQUAL "VST3")
      cmake_path(GET bundle PARENT_PATH bundle)
      cmake_path(GET bundle PARENT_PATH bundle)
    endif()
    cmake_path(GET bundle FILENAME bundle_name)
    cmake_path(RELATIVE_PATH module_dir BASE_DIRECTORY ${bundle} OUTPUT_VARIABLE inside)
    set(destination ${QL_INSTALL_PLUGIN_ROOT}/${folder}/${bundle_name})
    install(DIRECTORY ${bundle}/ DESTINATION ${destination} COMPONENT plugins
            PATTERN "*.so" EXCLUDE)
    if(NOT inside STREQUAL ".")
      string(APPEND destination /${inside})
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION ${destination} COMPONENT plugins)
  else()
    message(FATAL_ERROR "ql_install_plugin: unknown kind ${kind} (VST2, LV2, CLAP or VST3)")
  endif()
endfunction()

include(GNUInstallDirs)
foreach(tool quillantrope-render quillantrope-editor)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    # Manual pages are compressed as Debian wants them, without a time stamp so the package
    # is the same on every build.
    set(page ${CMAKE_CURRENT_BINARY_DIR}/packaging/${tool}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
      COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/${tool}.1 > ${page}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${tool}.1 VERBATIM)
    list(APPEND QL_PACKAGING_FILES ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillantrope COMPONENT doc)

# The Debian changelog belongs to the package only: its component is left out of a plain install.
set(QL_DEB_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${QL_DEB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${QL_DEB_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(ql_packaging_files ALL DEPENDS ${QL_PACKAGING_FILES} ${QL_DEB_CHANGELOG})
install(FILES ${QL_DEB_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillantrope
        COMPONENT debian EXCLUDE_FROM_ALL)

# The Debian package: `cpack -G DEB` in the build folder (scripts/release) makes
# quillantrope_<version>-<revision>_amd64.deb of every component, everything under /usr.
set(CPACK_PACKAGE_NAME quillantrope)
set(CPACK_PACKAGE_VENDOR "the Quillantrope authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillantrope authors <quillantrope@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo tempo-synchronised delay (VST 2, LV2, CLAP and VST3 plug-in)")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillantrope is a stereo delay whose two lines are timed in whole notes at the
host's tempo or a manual one, each side with its own level, feedback, resonant
feedback filter and ping-pong offset, a shared high and low cut, a gate for
echo tails and a ducker; 80 automatable parameters and 40 programs.

This package holds the VST 2 plug-in for Linux hosts (in /usr/lib/vst), the
LV2 plug-in with its editor (in /usr/lib/lv2), the offline host
quillantrope-render, which renders sound files through the
plug-in, and quillantrope-editor, which opens the plug-in's editor in a
window of its own.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL plugins tools doc debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the binaries' libraries (dpkg-shlibdeps, package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/finish-deb.cmake)
set(CPACK_GENERATOR DEB)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/packages)
include(CPack)

# The installed set: one line per plug-in format.
ql_install_plugin(Quillantrope VST2)
if(TARGET Quillantrope_clap)
  ql_install_plugin(Quillantrope_clap CLAP)
endif()
if(TARGET Quillantrope_vst3)
  ql_install_plugin(Quillantrope_vst3 VST3)
endif()
if(TARGET Quillantrope_lv2)
  ql_install_plugin(Quillantrope_lv2 LV2)
endif()
