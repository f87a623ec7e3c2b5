# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged tree of the Debian
# package, after "cmake --install" and before the tree is packed: adds what
# Debian asks of every package and a plain install does not need.
#   - the manual page compressed (gzip -9n: no name, no time, reproducible);
#   - /usr/share/doc/ostrel/copyright;
#   - /usr/share/doc/ostrel/changelog.gz, one entry for this version (the
#     package is native: its version is the project's, no Debian revision).
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/${CPACK_OSTREL_DOCDIR}")
set(man "${root}/${CPACK_OSTREL_MANDIR}/man1/ostrel.1")
if(NOT EXISTS "${man}" OR NOT IS_DIRECTORY "${doc}")
  message(FATAL_ERROR "deb_stage: ${man} or ${doc} missing in the staged tree")
endif()

configure_file("${CPACK_OSTREL_PACKAGING_DIR}/copyright" "${doc}/copyright" COPYONLY)

# The entry's date: SOURCE_DATE_EPOCH when set (string(TIMESTAMP) honours it),
# so that two builds of one commit give one package.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
"ostrel (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Package of ostrel ${CPACK_PACKAGE_VERSION}, built with scripts/package.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")

foreach(file "${man}" "${doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "deb_stage: gzip ${file} failed")
  endif()
endforeach()
