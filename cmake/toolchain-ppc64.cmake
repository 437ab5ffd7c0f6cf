# Cross build for 64-bit big-endian PowerPC, the proxy host of record.
# Uses Debian's cross toolchain (g++-powerpc64-linux-gnu) and runs the built
# programs under qemu-user, so CTest can run the test suite on an x86_64 host:
#   cmake -S . -B build/ppc64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc64.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64)

set(PROXY_PPC64_TRIPLE powerpc64-linux-gnu)
set(PROXY_PPC64_SYSROOT /usr/${PROXY_PPC64_TRIPLE}
    CACHE PATH "Target libraries of the cross toolchain (loader, libc, libstdc++)")

set(CMAKE_C_COMPILER ${PROXY_PPC64_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PROXY_PPC64_TRIPLE}-g++)

# Look for target libraries and headers only in the cross tree; programs
# (code generators, emulators) still come from the host.
set(CMAKE_FIND_ROOT_PATH ${PROXY_PPC64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L points qemu at the cross tree's dynamic loader and libraries. Libraries
# built in the tree are found through the build-tree RPATH that CMake writes.
find_program(PROXY_QEMU_PPC64 qemu-ppc64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROXY_QEMU_PPC64};-L;${PROXY_PPC64_SYSROOT})
