# Third-party dependencies, all from Debian packages (scripts/bootstrap.sh
# installs them). Nothing is vendored.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(cJSON REQUIRED)
# Prefer the JDK 17 the bootstrap installs, whatever else is on the machine.
if(NOT DEFINED ENV{JAVA_HOME} AND EXISTS /usr/lib/jvm/java-17-openjdk-amd64)
  set(ENV{JAVA_HOME} /usr/lib/jvm/java-17-openjdk-amd64)
endif()
find_package(JNI REQUIRED COMPONENTS JVM)

# Debian ships the real Android logger under a multiarch android/ folder;
# the NDK provides it on Android.
find_path(ANDROID_LOG_INCLUDE_DIR android/log.h PATHS /usr/include/android REQUIRED)
find_library(ANDROID_LOG_LIBRARY log
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android /usr/lib/x86_64-linux-gnu/android
  NO_DEFAULT_PATH REQUIRED)

if(KYR_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
