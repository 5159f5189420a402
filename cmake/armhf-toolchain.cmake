# Cross build for 32-bit ARM (Debian armhf); the tests run under qemu-arm-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# The programs run on the armhf libraries that Debian installs beside the native ones (libc6:armhf,
# libasound2:armhf, libedit2:armhf, libstdc++6:armhf), loaded by their own loader: qemu's default
# prefix is the root. (The cross toolchain's copy of the C library under /usr/arm-linux-gnueabihf
# is for linking; its loader with the installed C library, which can be a newer release, crashes
# as soon as a program starts a thread.)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)
# Debian multiarch: armhf libraries live beside the native ones, under /usr/lib/arm-linux-gnueabihf.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
