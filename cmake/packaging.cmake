# Installation in the freedesktop and Debian places, and the Debian package
# that `make package` builds with CPack: pondara_<version>-<revision>_<arch>.deb.

set(PONDARA_APP_ID org.pondara.PondaraV6)
set(PONDARA_MAINTAINER "Seed 5fee5a40 maintainers <maintainers@users.noreply.c-seed-5fee5a40.example>")
set(PONDARA_HOMEPAGE "https://c-seed-5fee5a40.example/pondara")
# The release of the project version: the date in the AppStream metainfo and
# in the top entry of the Debian changelog.
set(PONDARA_RELEASE_DATE 2026-12-07)
set(PONDARA_DEB_REVISION 1)
# The package is built on the release it is for, and its Depends name that
# release's libraries: the plain revision is Debian 12's; a later Debian
# release adds +deb<release>u1 (6.0-1+deb13u1), which sorts above it, so that
# an upgraded machine takes its own release's build.
cmake_host_system_information(RESULT pondara_distro_id QUERY DISTRIB_ID)
cmake_host_system_information(RESULT pondara_distro_version QUERY DISTRIB_VERSION_ID)
if(pondara_distro_id STREQUAL "debian" AND pondara_distro_version GREATER 12)
  string(APPEND PONDARA_DEB_REVISION "+deb${pondara_distro_version}u1")
endif()
set(PONDARA_DEB_VERSION ${PROJECT_VERSION}-${PONDARA_DEB_REVISION})

target_compile_definitions(pondara PRIVATE
  PONDARA_VERSION="${PROJECT_VERSION}" PONDARA_APP_ID="${PONDARA_APP_ID}")

# `make install` builds nothing: `make package` builds the installed targets
# alone, not every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

execute_process(COMMAND date -u -R -d "${PONDARA_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE PONDARA_RELEASE_TIME OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(pondara_dist ${CMAKE_BINARY_DIR}/dist)
configure_file(resources/${PONDARA_APP_ID}.metainfo.xml.in ${pondara_dist}/${PONDARA_APP_ID}.metainfo.xml @ONLY)
configure_file(packaging/changelog.in ${pondara_dist}/changelog.Debian @ONLY)

# Manual pages and the changelog are shipped compressed, without a time stamp.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(pondara_gzipped)
foreach(source man/pondara.1 man/pondara-sim.1 ${pondara_dist}/changelog.Debian)
  get_filename_component(name ${source} NAME)
  get_filename_component(source ${source} ABSOLUTE)
  add_custom_command(OUTPUT ${pondara_dist}/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${pondara_dist}/${name}.gz
    DEPENDS ${source})
  list(APPEND pondara_gzipped ${pondara_dist}/${name}.gz)
endforeach()
add_custom_target(pondara-dist ALL DEPENDS ${pondara_gzipped})

install(TARGETS pondara pondara-sim)
install(FILES resources/${PONDARA_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${pondara_dist}/${PONDARA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES resources/pondara.svg DESTINATION share/icons/hicolor/scalable/apps RENAME ${PONDARA_APP_ID}.svg)
foreach(size 16 32 48 64 128 256)
  install(FILES resources/icons/pondara-${size}.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${PONDARA_APP_ID}.png)
endforeach()
install(FILES ${pondara_dist}/pondara.1.gz ${pondara_dist}/pondara-sim.1.gz DESTINATION share/man/man1)
install(FILES packaging/copyright ${pondara_dist}/changelog.Debian.gz DESTINATION share/doc/pondara)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pondara)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PONDARA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host program for a load-cell weighing module on a serial line")
set(CPACK_PACKAGE_DESCRIPTION [[
PondaraV6 polls a load-cell weighing module (an AD converter board with its
own microcontroller) on an RS232 or RS485 serial line every 200 ms and shows
the live raw AD value and the calibrated weight. From the same window the
operator zeroes the scale, calibrates it against a known weight, reads and
writes the module's sampling period and filter width, and reads a help text
on the module's wire protocol. All texts the operator sees are Chinese.

The package also contains pondara-sim, a simulated module on a
pseudo-terminal, for trying the program without hardware.]])
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PONDARA_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PONDARA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries that shlibdeps finds (the MQTT client library among
# them, under each release's own name): the windows' Chinese texts need a
# font with Simplified Chinese glyphs. The broker is only the tests' business.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
