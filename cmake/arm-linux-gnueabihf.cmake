# 32-bit ARM (armeabi-v7a's hard-float Linux cousin), tests under qemu-arm.
set(KYR_CROSS_TRIPLE arm-linux-gnueabihf)
set(KYR_CROSS_MULTIARCH arm-linux-gnueabihf)
set(KYR_CROSS_PROCESSOR armv7l)
set(KYR_CROSS_QEMU qemu-arm)
# 64-bit file offsets: under qemu-user the host kernel hands out 64-bit
# directory offsets, which the 32-bit readdir() cannot return (EOVERFLOW).
# -Wno-psabi: GCC notes that 64-bit arguments pass differently since GCC 7.1.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -Wno-psabi")
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
