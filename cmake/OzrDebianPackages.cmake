# Debian packages, made by `cpack -G DEB` in a build configured with the `package` preset:
#   libostrel-logging1     component runtime: both shared libraries under their SONAMEs, and the tools
#   libostrel-logging-dev  component development: headers, CMake package, pkg-config file, .so links
# Run-time dependencies come from dpkg-shlibdeps; every package carries the license as its copyright file.

set(OZR_DEB_RUNTIME_PACKAGE libostrel-logging${PROJECT_VERSION_MAJOR})
set(OZR_DEB_DEVELOPMENT_PACKAGE libostrel-logging-dev)
set(OZR_DEB_MAINTAINER "Ostrel developers <logging@ostrel.example.org>")

# /usr/share/doc/<package>/copyright in the machine-readable format, the license text indented.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE _ozr_license_lines)
set(OZR_DEB_LICENSE_TEXT "")
foreach(_ozr_line IN LISTS _ozr_license_lines)
    if(_ozr_line STREQUAL "")
        string(APPEND OZR_DEB_LICENSE_TEXT " .\n")
    else()
        string(APPEND OZR_DEB_LICENSE_TEXT " ${_ozr_line}\n")
    endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

# /usr/share/doc/<package>/changelog.Debian.gz: one entry per release, pointing to CHANGELOG.md.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(_ozr_epoch $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE _ozr_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT _ozr_epoch)
    string(TIMESTAMP _ozr_epoch "%s" UTC)
endif()
execute_process(COMMAND date -u -R -d @${_ozr_epoch} OUTPUT_VARIABLE OZR_DEB_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)

foreach(_ozr_component runtime development)
    string(TOUPPER ${_ozr_component} _ozr_upper)
    set(_ozr_package ${OZR_DEB_${_ozr_upper}_PACKAGE})
    set(OZR_DEB_PACKAGE ${_ozr_package})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in
        ${PROJECT_BINARY_DIR}/debian/${_ozr_package}/changelog.Debian @ONLY)
    execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/${_ozr_package}/changelog.Debian)
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright
        ${PROJECT_BINARY_DIR}/debian/${_ozr_package}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_ozr_package}
        COMPONENT ${_ozr_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel-logging)
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_PACKAGE_CONTACT "${OZR_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Each package's description starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_COMPONENTS_ALL runtime development)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE ostrel-logging)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${OZR_DEB_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for packages built against this one, and ldconfig run through dpkg's trigger (CPack's
# own shlibs generation would add maintainer scripts that call ldconfig instead).
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/shlibs.in ${PROJECT_BINARY_DIR}/debian/shlibs @ONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "asynchronous zone logging library for Ostrel applications
libOstrel.Logging writes the printf-style log calls of an application,
filtered per zone and severity on the calling thread, from one worker
thread to rotating text files, standard output and a syslog collector
(BSD syslog over UDP). Settings are read from INI files through
libOstrel.Config, the small INI settings library that this package
also contains.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${OZR_DEB_DEVELOPMENT_PACKAGE})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libboost-dev (>= 1.74), libboost-date-time-dev (>= 1.74)")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "asynchronous zone logging library for Ostrel applications - development
libOstrel.Logging writes the printf-style log calls of an application,
filtered per zone and severity on the calling thread, from one worker
thread to rotating text files, standard output and a syslog collector
(BSD syslog over UDP).

This package holds the headers, the CMake package OstrelLogging
(targets Ostrel::Logging and Ostrel::Config) and the pkg-config file
ostrel-logging.")

include(CPack)
