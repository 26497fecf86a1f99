# cmake --install: libZEVA.so with its SONAME link, the public header, zeva.pc for pkg-config and
# the package config that gives find_package(ZEVA) the target ZEVA::ZEVA.
include(CMakePackageConfigHelpers)

set(ZEVA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZEVA")
install(TARGETS ZEVA EXPORT ZEVATargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/zeva/ZevaSdk.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeva)
install(EXPORT ZEVATargets NAMESPACE ZEVA:: DESTINATION ${ZEVA_CMAKE_DIR})

configure_package_config_file(cmake/ZEVAConfig.cmake.in "${CMAKE_CURRENT_BINARY_DIR}/ZEVAConfig.cmake"
  INSTALL_DESTINATION ${ZEVA_CMAKE_DIR})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/ZEVAConfigVersion.cmake"
  VERSION 4.4.0 COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/ZEVAConfig.cmake" "${CMAKE_CURRENT_BINARY_DIR}/ZEVAConfigVersion.cmake"
  DESTINATION ${ZEVA_CMAKE_DIR})

# zeva.pc finds the prefix from its own place, so the tree may be installed anywhere.
file(RELATIVE_PATH ZEVA_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" ZEVA_PC_TO_PREFIX "${ZEVA_PC_TO_PREFIX}")
configure_file(cmake/zeva.pc.in "${CMAKE_CURRENT_BINARY_DIR}/zeva.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/zeva.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
