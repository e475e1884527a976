# Cross-building on Debian with its cross compilers (g++-<triple>) and the
# multiarch packages of the target (libssl-dev:<arch>, libcjson-dev:<arch>,
# android-liblog-dev:<arch>, libgtest-dev:<arch>), which install beside the
# host's own under /usr/lib/<multiarch> and /usr/include/<multiarch>.
# Included by the per-ABI files in this folder after they set
#   KYR_CROSS_TRIPLE     compiler prefix      (arm-linux-gnueabihf)
#   KYR_CROSS_MULTIARCH  Debian's multiarch   (arm-linux-gnueabihf)
#   KYR_CROSS_PROCESSOR  CMAKE_SYSTEM_PROCESSOR (armv7l)
#   KYR_CROSS_QEMU       qemu-user binary that runs the tests, or empty
#                        when the host runs them directly
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${KYR_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${KYR_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KYR_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KYR_CROSS_MULTIARCH})

# The target's libraries are in the host's own tree, so no sysroot; only
# the host's multiarch folder must never be searched.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${KYR_CROSS_MULTIARCH}/pkgconfig:/usr/share/pkgconfig)

if(KYR_CROSS_QEMU)
  # gtest_discover_tests and ctest run every test binary through qemu-user;
  # the target's dynamic loader and libraries come from the multiarch tree.
  find_program(KYR_QEMU ${KYR_CROSS_QEMU} REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KYR_QEMU})
endif()
