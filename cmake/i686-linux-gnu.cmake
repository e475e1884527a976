# 32-bit x86 (Android's x86 ABI on Linux): the host runs it directly. The
# i386 JDK installs beside the 64-bit one; its java runs the JVM suite
# against the 32-bit library.
set(KYR_CROSS_TRIPLE i686-linux-gnu)
set(KYR_CROSS_MULTIARCH i386-linux-gnu)
set(KYR_CROSS_PROCESSOR i686)
set(KYR_CROSS_QEMU "")
if(EXISTS /usr/lib/jvm/java-17-openjdk-i386/bin/java)
  set(ENV{JAVA_HOME} /usr/lib/jvm/java-17-openjdk-i386)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
