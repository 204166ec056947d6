# The Debian package. From a Release build (best configured with -DCMAKE_INSTALL_PREFIX=/usr),
# `cpack -G DEB` in the build folder writes velmora-launcher_<version>_<arch>.deb; the
# dependencies come from the installed binaries through dpkg-shlibdeps (package dpkg-dev).
# scripts/package-check builds it, checks it with lintian, installs it and removes it again.
#
# Included at the end of the top CMakeLists.txt, once every target exists.

include(GNUInstallDirs)

set(VELMORA_PACKAGE_NAME velmora-launcher)
set(VELMORA_PACKAGE_CONTACT "The Velmora II Launcher developers <launcher@velmora.example>")
set(velmora_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${VELMORA_PACKAGE_NAME})
set(velmora_package_dir ${CMAKE_CURRENT_BINARY_DIR}/package-files)

# --- Files compressed the way Debian wants them: best compression, no name or time stamp in
# the header, so the same source gives the same bytes.
function(velmora_gzip_file source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" sh ${source} ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

set(velmora_gzipped "")
macro(velmora_install_gzipped source name destination)
  velmora_gzip_file(${source} ${velmora_package_dir}/${name}.gz)
  list(APPEND velmora_gzipped ${velmora_package_dir}/${name}.gz)
  install(FILES ${velmora_package_dir}/${name}.gz DESTINATION ${destination})
endmacro()

velmora_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/velmora-launcher.6 velmora-launcher.6
                        ${CMAKE_INSTALL_MANDIR}/man6)
if(TARGET velmora-publish)
  velmora_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/velmora-publish.1 velmora-publish.1
                          ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# A package whose version has no Debian revision is native: its changelog is changelog.gz.
velmora_install_gzipped(${PROJECT_SOURCE_DIR}/cmake/package/changelog changelog ${velmora_doc_dir})
add_custom_target(velmora_package_files ALL DEPENDS ${velmora_gzipped})

# --- The copyright file, machine-readable (DEP-5), carrying LICENSE's permission text word for
# word. DEP-5 calls the MIT licence "Expat".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE velmora_license)
string(REGEX MATCH "Permission is hereby granted.*$" velmora_license_body "${velmora_license}")
if(NOT velmora_license_body)
  message(FATAL_ERROR "LICENSE does not hold the MIT permission text")
endif()
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" velmora_license_copyright "${velmora_license}")
set(velmora_license_copyright "${CMAKE_MATCH_1}")
string(STRIP "${velmora_license_body}" velmora_license_body)
# A continuation line starts with a space; an empty line inside a field is written " .".
string(REPLACE "\n\n" "\n.\n" velmora_license_body "${velmora_license_body}")
string(REPLACE "\n" "\n " velmora_license_body "${velmora_license_body}")
file(WRITE ${velmora_package_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${VELMORA_PACKAGE_NAME}
Upstream-Contact: ${VELMORA_PACKAGE_CONTACT}

Files: *
Copyright: ${velmora_license_copyright}
License: Expat
 ${velmora_license_body}
")
install(FILES ${velmora_package_dir}/copyright DESTINATION ${velmora_doc_dir})

# --- A stripped program still carries the compilers' names (.comment) and notes nobody reads;
# Debian's own packaging drops them, and so does ours when the install strips.
foreach(velmora_program velmora-launcher velmora-publish)
  if(TARGET ${velmora_program})
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${velmora_program}>\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endif()
endforeach()

# --- CPack
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VELMORA_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmora II Launcher developers")
set(CPACK_PACKAGE_CONTACT ${VELMORA_PACKAGE_CONTACT})
# Debian's programs live below /usr whatever the build's own prefix; configuring with
# -DCMAKE_INSTALL_PREFIX=/usr as well gives GNUInstallDirs Debian's library folder.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Not "games": Debian keeps the programs of that section in /usr/games (Policy 11.11, a lintian
# error otherwise), while both programs here belong in /usr/bin, where every PATH finds them and
# where the publisher's tool, which is no game, must be anyway.
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line is the synopsis; CPack indents the body and turns its empty lines into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"keeps the game Velmora II up to date, then starts it
The launcher is started in place of the game. It fetches the patch
catalogue from the download server, recognises the installed release by
the digest of its executable and offers the newest patch. The download
resumes where it stopped, every file is checked against its digest, and
then the patch installer runs; on every other road the game starts.

It shows a Qt wizard on X11 or Wayland and works in a terminal without a
display. Velmora II is a Windows game: it is started through Wine or
another runner named in VELMORA_RUNNER.")

# Qt picks its platform plugin at run time, so no scan of the binaries names it: the X11 one is
# required, the Wayland one and Qt's own translations (Yes, No, Cancel in the player's language)
# are recommended. The package that holds the X11 plugin is asked of dpkg, not guessed.
set(velmora_runtime_depends "")
set(velmora_runtime_recommends "")
if(TARGET velmora_ui_qt)
  set(velmora_xcb_package libqt6gui6)
  if(TARGET Qt6::QXcbIntegrationPlugin)
    get_target_property(velmora_xcb_plugin Qt6::QXcbIntegrationPlugin LOCATION)
    execute_process(COMMAND dpkg-query -S ${velmora_xcb_plugin}
                    OUTPUT_VARIABLE velmora_xcb_owner ERROR_QUIET RESULT_VARIABLE velmora_xcb_rc)
    if(velmora_xcb_rc EQUAL 0 AND velmora_xcb_owner MATCHES "^([^:,]+)")
      set(velmora_xcb_package ${CMAKE_MATCH_1})
    else()
      message(STATUS "No Debian package owns ${velmora_xcb_plugin}; the package will depend on "
                     "${velmora_xcb_package} for Qt's X11 plugin")
    endif()
  endif()
  set(velmora_runtime_depends ${velmora_xcb_package})
  set(velmora_runtime_recommends "qt6-wayland, qt6-translations-l10n")
endif()
# Both programs decode or make deltas with libzstd (dpkg-shlibdeps finds it too; named here so
# the package says so whatever the scan finds); the zstd program lets a publisher make a delta
# by hand, which velmora-publish lint then checks.
list(APPEND velmora_runtime_depends libzstd1)
string(REPLACE ";" ", " velmora_runtime_depends "${velmora_runtime_depends}")
if(velmora_runtime_recommends STREQUAL "")
  set(velmora_runtime_recommends "zstd")
else()
  set(velmora_runtime_recommends "${velmora_runtime_recommends}, zstd")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${velmora_runtime_depends}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${velmora_runtime_recommends}")

include(CPack)
