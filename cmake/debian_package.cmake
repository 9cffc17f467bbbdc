# The Debian package, tessary_<version>_<arch>.deb: CPack's DEB generator over the install
# rules, so the package holds exactly what `cmake --install` puts in place, under /usr, with
# the project's version. dpkg-shlibdeps computes the runtime dependencies from the libraries
# the installed programs link. deb_staging.cmake then adds what Debian's policy asks of every
# package: compressed manual pages, the copyright file and a changelog.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessary)
set(CPACK_PACKAGE_VENDOR "The Tessary developers")
set(CPACK_PACKAGE_CONTACT "The Tessary developers <developers@tessary.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "processor benchmark that computes the digits of pi")
set(CPACK_PACKAGE_DESCRIPTION "\
Tessary measures how fast a machine computes the decimal digits of pi. Its
window has a START button that computes pi five times to 8,388,608 digits,
then shows a score, higher for a faster machine, and the processor time it
took, beside a description of the processor, memory and operating system.

The digits come from Tessary's own multi-precision arithmetic: an
arithmetic-geometric-mean iteration whose products are computed with a
split-radix fast Fourier transform. The command tessary-cli runs the same
benchmark in a terminal and prints pi to any number of digits.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tessary.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The results store keeps every result with SQLite. Named here as well as found by
# dpkg-shlibdeps, so that the package needs it whichever programs link the store.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0 (>= ${SQLITE3_VERSION})")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})

# Read by deb_staging.cmake, which runs inside CPack.
set(CPACK_TESSARY_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_TESSARY_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_TESSARY_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_TESSARY_RELEASE_DATE ${TESSARY_RELEASE_DATE})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_staging.cmake)
include(CPack)
