# Cross build for another Debian architecture: the Debian cross compiler, the target's libraries
# unpacked into a private sysroot, and qemu-user to run what was built (tests, test discovery and the
# build tools). Set by scripts/cross-test: QARVEX_CROSS_TRIPLET (i686-linux-gnu, s390x-linux-gnu, ...),
# QARVEX_CROSS_MULTIARCH (i386-linux-gnu, s390x-linux-gnu, ...), QARVEX_CROSS_PROCESSOR, QARVEX_CROSS_QEMU
# and QARVEX_CROSS_SYSROOT.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QARVEX_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${QARVEX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QARVEX_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH ${QARVEX_CROSS_SYSROOT} /usr/${QARVEX_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE ${QARVEX_CROSS_MULTIARCH})

# The target's own headers come before the host's /usr/include, which the cross compiler also searches.
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${QARVEX_CROSS_SYSROOT}/usr/include/${QARVEX_CROSS_MULTIARCH} -isystem ${QARVEX_CROSS_SYSROOT}/usr/include")
set(libdir ${QARVEX_CROSS_SYSROOT}/usr/lib/${QARVEX_CROSS_MULTIARCH})
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${libdir} -Wl,-rpath-link,${libdir}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${libdir} -Wl,-rpath-link,${libdir}")

# pkg-config reads the target's .pc files (PKG_CONFIG_LIBDIR and PKG_CONFIG_SYSROOT_DIR are exported by
# scripts/cross-test). The settings above also reach the compiler checks' own projects.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QARVEX_CROSS_TRIPLET QARVEX_CROSS_MULTIARCH QARVEX_CROSS_PROCESSOR
    QARVEX_CROSS_RUNNER QARVEX_CROSS_SYSROOT)

set(CMAKE_CROSSCOMPILING_EMULATOR ${QARVEX_CROSS_RUNNER})
