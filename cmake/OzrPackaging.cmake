# Installs the CMake package OstrelLogging (targets Ostrel::Logging and Ostrel::Config) and the
# pkg-config file ostrel-logging.pc, both in the install component "development".

include(CMakePackageConfigHelpers)

set(OZR_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OstrelLogging)

install(EXPORT OstrelLoggingTargets
    NAMESPACE Ostrel::
    DESTINATION ${OZR_CMAKE_INSTALL_DIR}
    COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelLoggingConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OstrelLoggingConfig.cmake
    INSTALL_DESTINATION ${OZR_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OstrelLoggingConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/OstrelLoggingConfig.cmake
    ${PROJECT_BINARY_DIR}/OstrelLoggingConfigVersion.cmake
    DESTINATION ${OZR_CMAKE_INSTALL_DIR}
    COMPONENT development)

# The .pc file finds its prefix relative to its own location, so the installed tree can be moved and
# `cmake --install --prefix` works without reconfiguring.
file(RELATIVE_PATH OZR_PC_PREFIX_FROM_PCFILEDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" OZR_PC_PREFIX_FROM_PCFILEDIR "${OZR_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel-logging.pc.in ${PROJECT_BINARY_DIR}/ostrel-logging.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ostrel-logging.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
