# Runs inside CPack on the staged tree, before it becomes the .deb: Debian wants the
# licence as /usr/share/doc/<package>/copyright, a changelog beside it, and manual pages
# and changelogs compressed with `gzip -9n` (no name or time stamp, so builds repeat).
set(stage ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${stage}/${CPACK_TESSARY_DOCDIR})

file(READ ${CPACK_TESSARY_LICENSE} license)
file(WRITE ${doc}/copyright "${CPACK_PACKAGE_NAME}, a pi benchmark, from ${CPACK_DEBIAN_PACKAGE_HOMEPAGE}\n\n${license}")
file(REMOVE ${doc}/LICENSE)

execute_process(COMMAND date -u -R -d "${CPACK_TESSARY_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE release_time OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${doc}/changelog "\
${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}: see https://tessary.org for its notes.

 -- ${CPACK_PACKAGE_CONTACT}  ${release_time}
")

file(GLOB_RECURSE pages ${stage}/${CPACK_TESSARY_MANDIR}/*)
execute_process(COMMAND gzip -9nf ${doc}/changelog ${pages} COMMAND_ERROR_IS_FATAL ANY)
