# Installs the build tree into a fresh prefix, then builds and runs the downstream project against it
# twice: through find_package(QarvexRSA) and through pkg-config, with the component and with the
# envelope library.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -DCXX_FLAGS=... -DLINK_FLAGS=...
#         -DLIBDIR=... -DGENERATOR=... -P RunDownstream.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${line}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(${WORK_DIR}/cmake/downstream)
run(${WORK_DIR}/cmake/downstream_envelope)

# pkg-config
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs qarvex-rsa OUTPUT_VARIABLE flags
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS} ${LINK_FLAGS}")
run(${CXX} ${extra} ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/downstream-pc ${flags})
run(${WORK_DIR}/downstream-pc)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs qarvex-envelope OUTPUT_VARIABLE envelope_flags
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(envelope_flags UNIX_COMMAND "${envelope_flags}")
run(${CXX} ${extra} ${SOURCE_DIR}/envelope.cpp -o ${WORK_DIR}/downstream-envelope-pc ${envelope_flags})
run(${WORK_DIR}/downstream-envelope-pc)
