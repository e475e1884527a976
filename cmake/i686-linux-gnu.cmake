# 32-bit x86 (Android's x86 ABI on Linux). The host runs it directly when its
# kernel takes 32-bit programs; otherwise configure with
# -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386 (run.sh decides) and every test
# program, the JVM suite's java included, runs under qemu-user. The i386 JDK
# installs beside the 64-bit one; its java runs the JVM suite against the
# 32-bit library.
set(KYR_CROSS_TRIPLE i686-linux-gnu)
set(KYR_CROSS_MULTIARCH i386-linux-gnu)
set(KYR_CROSS_PROCESSOR i686)
set(KYR_CROSS_QEMU "")
# 64-bit file offsets: under qemu-user the host kernel hands out 64-bit
# directory offsets, which the 32-bit readdir() cannot return (EOVERFLOW).
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
if(EXISTS /usr/lib/jvm/java-17-openjdk-i386/bin/java)
  # The JDK the build uses (cmake/deps.cmake) and the java the JVM suite runs on.
  set(KYR_CROSS_JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386)
  set(KYR_TEST_JAVA /usr/lib/jvm/java-17-openjdk-i386/bin/java)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
