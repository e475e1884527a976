# Third-party dependencies, all from Debian packages (scripts/bootstrap.sh
# installs them). Nothing is vendored.
set(THREADS_PREFER_PTHREAD_FLAG ON)
# Android (the NDK's toolchain file): Android has no OpenSSL or cJSON, so
# the app builds both per ABI into KYR_ANDROID_DEPS/<ANDROID_ABI>/ (include/,
# lib/libssl.a, lib/libcrypto.a, lib/libcjson.a, lib/cmake/cJSON/).
set(KYR_ANDROID_DEPS "" CACHE PATH "Per-ABI prefixes of OpenSSL 3 and cJSON for Android builds")
if(ANDROID AND KYR_ANDROID_DEPS)
  set(kyr_dep_prefix ${KYR_ANDROID_DEPS}/${ANDROID_ABI})
  list(APPEND CMAKE_FIND_ROOT_PATH ${kyr_dep_prefix})
  set(OPENSSL_ROOT_DIR ${kyr_dep_prefix})
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  set(cJSON_DIR ${kyr_dep_prefix}/lib/cmake/cJSON)
endif()
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(cJSON REQUIRED)
# Another ABI's JDK (set by its toolchain file) builds and runs the Java
# parts, except under an emulator: javac must run on this host, and the
# classes are the same for every ABI.
if(KYR_CROSS_JAVA_HOME AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(ENV{JAVA_HOME} ${KYR_CROSS_JAVA_HOME})
endif()
# Prefer the JDK 17 the bootstrap installs, whatever else is on the machine.
if(NOT DEFINED ENV{JAVA_HOME} AND EXISTS /usr/lib/jvm/java-17-openjdk-amd64)
  set(ENV{JAVA_HOME} /usr/lib/jvm/java-17-openjdk-amd64)
endif()
if(ANDROID)
  # The NDK's sysroot has jni.h; the app's VM provides the rest.
  find_path(KYR_JNI_INCLUDE jni.h REQUIRED)
  set(JNI_INCLUDE_DIRS ${KYR_JNI_INCLUDE})
elseif(CMAKE_CROSSCOMPILING)
  # The library only needs the JNI headers (a JVM loads it; it links no
  # libjvm), and jni_md.h is the same for every Linux ABI, so any JDK 17's
  # headers serve a cross build.
  find_path(KYR_JNI_INCLUDE jni.h
    PATHS $ENV{JAVA_HOME}/include /usr/lib/jvm/java-17-openjdk-amd64/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(JNI_INCLUDE_DIRS ${KYR_JNI_INCLUDE} ${KYR_JNI_INCLUDE}/linux)
else()
  find_package(JNI REQUIRED COMPONENTS JVM)
endif()

# Debian ships the real Android logger under a multiarch android/ folder;
# the NDK provides it on Android.
if(ANDROID)
  find_path(ANDROID_LOG_INCLUDE_DIR android/log.h REQUIRED)
  find_library(ANDROID_LOG_LIBRARY log REQUIRED)
else()
  find_path(ANDROID_LOG_INCLUDE_DIR android/log.h PATHS /usr/include/android REQUIRED)
  if(CMAKE_CROSSCOMPILING)
    set(kyr_liblog_paths /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android)
  else()
    set(kyr_liblog_paths /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android /usr/lib/x86_64-linux-gnu/android)
  endif()
  find_library(ANDROID_LOG_LIBRARY log PATHS ${kyr_liblog_paths} NO_DEFAULT_PATH REQUIRED)
endif()

if(KYR_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
