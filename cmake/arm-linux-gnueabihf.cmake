# 32-bit ARM (armeabi-v7a's hard-float Linux cousin), tests under qemu-arm.
set(KYR_CROSS_TRIPLE arm-linux-gnueabihf)
set(KYR_CROSS_MULTIARCH arm-linux-gnueabihf)
set(KYR_CROSS_PROCESSOR armv7l)
set(KYR_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
