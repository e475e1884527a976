# 64-bit ARM (arm64-v8a), tests under qemu-aarch64.
set(KYR_CROSS_TRIPLE aarch64-linux-gnu)
set(KYR_CROSS_MULTIARCH aarch64-linux-gnu)
set(KYR_CROSS_PROCESSOR aarch64)
set(KYR_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
