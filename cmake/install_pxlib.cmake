# PXLib installed for other programs: the archive, both headers, pxlib.pc and a CMake package
# (find_package(PXLib) gives PXLib::pxlib).
include(CMakePackageConfigHelpers)
set_target_properties(pxlib PROPERTIES EXPORT_NAME pxlib)
install(TARGETS pxlib EXPORT PXLibTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT pxlib)
install(FILES ${PROJECT_SOURCE_DIR}/include/pxlib.h ${PROJECT_SOURCE_DIR}/include/pxlib.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT pxlib)

set(PXLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PXLib)
install(EXPORT PXLibTargets NAMESPACE PXLib:: DESTINATION ${PXLIB_CMAKE_DIR} COMPONENT pxlib)
string(REPLACE "\\n" "\n" PXLIB_CONFIG_DEPENDENCIES "${PXLIB_CONFIG_DEPENDENCIES}")
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PXLibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PXLibConfig.cmake INSTALL_DESTINATION ${PXLIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PXLibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PXLibConfig.cmake ${PROJECT_BINARY_DIR}/PXLibConfigVersion.cmake
        DESTINATION ${PXLIB_CMAKE_DIR} COMPONENT pxlib)

# The file finds its prefix from where it lies, so a package moved with --prefix still works.
file(RELATIVE_PATH PXLIB_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" PXLIB_PC_TO_PREFIX "${PXLIB_PC_TO_PREFIX}")
# Only an archive is installed, so its libraries are public requirements (plain --libs links
# them, where --static would drag in their own private ones); it holds C++ objects, so a C program
# links the C++ runtime too.
configure_file(${PROJECT_SOURCE_DIR}/cmake/pxlib.pc.in ${PROJECT_BINARY_DIR}/pxlib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pxlib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT pxlib)
