# Cross build for 32-bit ARM (Debian armhf); the tests run under qemu-arm-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/arm-linux-gnueabihf)
# Debian multiarch: armhf libraries live beside the native ones, under /usr/lib/arm-linux-gnueabihf.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
