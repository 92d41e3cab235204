# Cross build for Linux on 64-bit ARM with Debian's aarch64-linux-gnu
# toolchain (apt-get install g++-aarch64-linux-gnu qemu-user). Test binaries
# and the programs the end-to-end tests start run through qemu's user-mode
# emulator, which finds the target's C and C++ libraries under the sysroot
# given with -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(PULSE_TARGET_TRIPLE aarch64-linux-gnu)
set(PULSE_TARGET_SYSROOT /usr/${PULSE_TARGET_TRIPLE})

set(CMAKE_C_COMPILER ${PULSE_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PULSE_TARGET_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH ${PULSE_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;${PULSE_TARGET_SYSROOT})

# Debian's name for the architecture, used for the package's Architecture
# field and its file name.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
