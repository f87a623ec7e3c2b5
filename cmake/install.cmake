# Installing ostrel like any Debian tool, and packaging it.
#
#   cmake --install build/native --prefix P   (scripts/package: the same as a .deb)
#
#   P/bin/ostrel
#   P/share/ostrel/win32/{stub,extractor}.exe   found by ostrel as ../share/ostrel/ARCH/
#   P/share/ostrel/win64/{stub,extractor}.exe
#   P/share/man/man1/ostrel.1
#   P/share/bash-completion/completions/ostrel
#   P/share/doc/ostrel/{README.md,examples/}
#
# The Windows programs are not built here (a native tree has no mingw
# compiler): they are taken from the win32 and win64 build trees named by
# the two cache variables below, which scripts/setup sets. An install
# without them fails and says which file is missing and how to build it,
# rather than giving an ostrel that cannot build anything.
include(GNUInstallDirs)

set(OSTREL_WIN32_BUILD "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH
    "Build tree of the win32 preset: stub and extractor that install with ostrel")
set(OSTREL_WIN64_BUILD "${CMAKE_SOURCE_DIR}/build/win64" CACHE PATH
    "Build tree of the win64 preset: stub and extractor that install with ostrel")

set(ostrel_windows_programs)
foreach(arch win32 win64)
  string(TOUPPER ${arch} ARCH)
  foreach(name stub extractor)
    list(APPEND ostrel_windows_programs "${OSTREL_${ARCH}_BUILD}/${name}/${name}.exe")
  endforeach()
endforeach()

# Checked when installing, not when configuring: the native tree is usually
# configured before the Windows trees are built.
install(CODE "
  foreach(program ${ostrel_windows_programs})
    if(NOT EXISTS \"\${program}\")
      message(FATAL_ERROR \"ostrel install: \${program} is missing. \"
              \"ostrel needs the Windows stub and extractor of both architectures: \"
              \"build them with 'scripts/setup native win32 win64' \"
              \"(or set OSTREL_WIN32_BUILD / OSTREL_WIN64_BUILD to the build trees that hold them).\")
    endif()
  endforeach()")

install(TARGETS ostrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(arch win32 win64)
  string(TOUPPER ${arch} ARCH)
  # Data for Wine or Windows, read by ostrel: not executable on this system.
  install(FILES "${OSTREL_${ARCH}_BUILD}/stub/stub.exe" "${OSTREL_${ARCH}_BUILD}/extractor/extractor.exe"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/ostrel/${arch})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/builder/ostrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/builder/ostrel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ostrel)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page and the completion against every command's --help: an
# option added to one and not the others fails here. Natively only: the
# script starts ostrel itself.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME manual_matches_help
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/install/check_manual.py
                   $<TARGET_FILE:ostrel> ${CMAKE_SOURCE_DIR}/builder/ostrel.1
                   ${CMAKE_SOURCE_DIR}/builder/ostrel.bash-completion)
endif()

# The Debian package: CPack's DEB generator over the rules above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(OSTREL_PACKAGE_MAINTAINER "Ostrel Self Extractor team <ostrel@example.org>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${OSTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds self-extracting ZIP programs for Windows")
# One paragraph per line; CPack indents it as a control file wants.
set(CPACK_PACKAGE_DESCRIPTION
"ostrel makes SFX files: Windows programs that carry a ZIP archive and
extract it, with a German user interface (a main dialog with target
folder and options, or a silent run). A file is an 8192-byte stub, the
packed extractor and an ordinary ZIP archive, so ZIP tools open it too.
.
The tool builds SFX files from a folder or a ZIP archive (32-bit or
64-bit Windows, optional traditional encryption and Authenticode signing
through osslsigncode), shows their layout and settings, lists and tests
their entries, and extracts SFX files and ZIP archives on Linux with the
extractor's own reader and decoders. The Windows programs it assembles
are part of the package.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary links (libc, libstdc++, zlib, libdeflate).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS osslsigncode)
set(CPACK_STRIP_FILES ON)
# Debian's own parts (compressed manual page, changelog, copyright) are added
# to the staged tree just before it is packed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/deb_stage.cmake)
set(CPACK_OSTREL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(CPACK_OSTREL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_OSTREL_MANDIR ${CMAKE_INSTALL_MANDIR})
include(CPack)
