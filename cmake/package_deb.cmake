# cpack -G DEB makes quillet_<version>_amd64.deb; its library dependencies are read off the
# programs by dpkg-shlibdeps, never typed here.
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR "the Quillet authors")
set(CPACK_PACKAGE_CONTACT "the Quillet authors <quillet@brackenfold.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch thumbnail maker with its own imaging library")
# CPack puts the summary above this text.
set(CPACK_PACKAGE_DESCRIPTION "Quillet turns every picture of a folder into a thumbnail: the desktop
program quillet with a progress window and a preview, and quillet-batch for
shells and job engines. It reads JPEG, PNG, TIFF, BMP, PSD, PCX, TGA, WMF,
EMF, HEIF, AVIF, WebP, GIF and JPEG XL. The package also holds PXLib, its imaging library,
as a static archive with its headers, pkg-config file and CMake package.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.brackenfold.example/")

# Debian wants the licence as /usr/share/doc/quillet/copyright and a compressed changelog.
set(deb_doc ${PROJECT_BINARY_DIR}/debian-doc)
file(MAKE_DIRECTORY ${deb_doc})
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence_text)
file(WRITE ${deb_doc}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quillet

Files: *
Copyright: 2026 the Quillet authors
License: Expat
")
string(REGEX REPLACE "\n\n" "\n.\n" licence_par "${licence_text}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" licence_par "${licence_par}")
file(APPEND ${deb_doc}/copyright " ${licence_par}")
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${deb_doc}/changelog "quillet (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}
")
add_custom_command(OUTPUT ${deb_doc}/changelog.gz
  COMMAND gzip -n -9 -c ${deb_doc}/changelog > ${deb_doc}/changelog.gz
  DEPENDS ${deb_doc}/changelog VERBATIM)
add_custom_target(quillet_deb_doc ALL DEPENDS ${deb_doc}/changelog.gz)
install(FILES ${deb_doc}/copyright ${deb_doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillet)
include(CPack)
