# `cmake --install`: the libraries, the public headers under include/qarvex, the CMake package
# QarvexRSA (target QarvexRSA::qarvex_rsa, and qarvex_envelope and qarvex_keys where built) and the
# pkg-config files qarvex-rsa.pc, qarvex-envelope.pc and qarvex-keys.pc. The tool and the packages
# install themselves from their folders.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QARVEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qarvex)
set(QARVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QarvexRSA)

set(QARVEX_INSTALL_TARGETS qarvex_bignum qarvex_hash qarvex_host qarvex_rsa)
set(QARVEX_INSTALL_HEADERS ${QARVEX_PUBLIC_HEADERS})
if(TARGET qarvex_keys)
  list(APPEND QARVEX_INSTALL_TARGETS qarvex_keys)
  list(APPEND QARVEX_INSTALL_HEADERS ${QARVEX_KEYS_PUBLIC_HEADERS})
endif()
install(TARGETS ${QARVEX_INSTALL_TARGETS} EXPORT QarvexRSATargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${QARVEX_INSTALL_INCLUDEDIR})
foreach(header IN LISTS QARVEX_INSTALL_HEADERS)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${QARVEX_INSTALL_INCLUDEDIR}/${dir})
endforeach()

# The envelope library (QarvexRSA::qarvex_envelope), in the same package; it brings libcrypto along.
if(TARGET qarvex_envelope)
  install(TARGETS qarvex_envelope EXPORT QarvexRSATargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${QARVEX_INSTALL_INCLUDEDIR})
  foreach(header IN LISTS QARVEX_ENVELOPE_HEADERS)
    get_filename_component(dir ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${QARVEX_INSTALL_INCLUDEDIR}/${dir})
  endforeach()
  set(QARVEX_FIND_ENVELOPE_DEPENDENCIES "find_dependency(OpenSSL 3.0 COMPONENTS Crypto)")
endif()

install(EXPORT QarvexRSATargets NAMESPACE QarvexRSA:: DESTINATION ${QARVEX_INSTALL_CMAKEDIR})
# The key library links libcrypto too, which a consumer's build must then find as well.
if(TARGET qarvex_keys)
  set(QARVEX_FIND_ENVELOPE_DEPENDENCIES "find_dependency(OpenSSL 3.0 COMPONENTS Crypto)")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/QarvexRSAConfig.cmake.in [[
@PACKAGE_INIT@
include(CMakeFindDependencyMacro)
find_dependency(Threads)
@QARVEX_FIND_ENVELOPE_DEPENDENCIES@
include("${CMAKE_CURRENT_LIST_DIR}/QarvexRSATargets.cmake")
check_required_components(QarvexRSA)
]])
configure_package_config_file(${PROJECT_BINARY_DIR}/QarvexRSAConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QarvexRSAConfig.cmake
                              INSTALL_DESTINATION ${QARVEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QarvexRSAConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QarvexRSAConfig.cmake ${PROJECT_BINARY_DIR}/QarvexRSAConfigVersion.cmake
        DESTINATION ${QARVEX_INSTALL_CMAKEDIR})

# pkg-config: static libraries, so the link order is the component before the layers it builds on.
set(QARVEX_PC_LIBS "-lqarvex_rsa -lqarvex_host -lqarvex_hash -lqarvex_bignum")
if(CMAKE_DL_LIBS)
  string(APPEND QARVEX_PC_LIBS " -l${CMAKE_DL_LIBS}")
endif()
# The prefix is found from the file's own place, so the installed tree can move (cmake --install --prefix).
file(RELATIVE_PATH QARVEX_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" QARVEX_PC_TO_PREFIX "${QARVEX_PC_TO_PREFIX}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/qarvex-rsa.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@QARVEX_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@QARVEX_INSTALL_INCLUDEDIR@

Name: qarvex-rsa
Description: Qarvex RSA: the TRSA public-key component, its arithmetic, digests and host framework
Version: @PROJECT_VERSION@
Cflags: -I${includedir} -std=c++20
Libs: -L${libdir} @QARVEX_PC_LIBS@ -pthread
]])
install(FILES ${PROJECT_BINARY_DIR}/qarvex-rsa.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The envelope library's pkg-config file: the component's and libcrypto's flags come with it.
if(TARGET qarvex_envelope)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/qarvex-envelope.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@QARVEX_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@QARVEX_INSTALL_INCLUDEDIR@

Name: qarvex-envelope
Description: Qarvex RSA sealed envelopes: data of any size encrypted for the holders of RSA keys
Version: @PROJECT_VERSION@
Requires: qarvex-rsa = @PROJECT_VERSION@, libcrypto >= 3.0
Libs: -L${libdir} -lqarvex_envelope
]])
  install(FILES ${PROJECT_BINARY_DIR}/qarvex-envelope.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# The key library's pkg-config file, likewise.
if(TARGET qarvex_keys)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/qarvex-keys.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@QARVEX_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@QARVEX_INSTALL_INCLUDEDIR@

Name: qarvex-keys
Description: Qarvex RSA key formats: PEM, DER, OpenSSH and JWK keys read into and written from TRSA
Version: @PROJECT_VERSION@
Requires: qarvex-rsa = @PROJECT_VERSION@, libcrypto >= 3.0
Libs: -L${libdir} -lqarvex_keys
]])
  install(FILES ${PROJECT_BINARY_DIR}/qarvex-keys.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
