# Cross-builds the launcher for Windows with mingw-w64 (posix thread model), 32-bit by default.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-windows-i686.cmake
#
# VELLMORA_WINDOWS_ARCH picks the target: i686 (the launcher that ships) or x86_64 (the same sources
# for a 64-bit Wine, on hosts whose kernel runs no 32-bit programs). VELLMORA_WINDOWS_DEPS is the
# folder scripts/build-windows fills with the libraries built for that target (libcurl, minizip,
# googletest); the cross compiler's own folder supplies zlib and libgcrypt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

if(NOT VELLMORA_WINDOWS_ARCH)
  set(VELLMORA_WINDOWS_ARCH "$ENV{VELLMORA_WINDOWS_ARCH}")
endif()
if(NOT VELLMORA_WINDOWS_ARCH)
  set(VELLMORA_WINDOWS_ARCH i686)
endif()
if(NOT VELLMORA_WINDOWS_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "VELLMORA_WINDOWS_ARCH must be i686 or x86_64, not '${VELLMORA_WINDOWS_ARCH}'")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${VELLMORA_WINDOWS_ARCH})
set(triple ${VELLMORA_WINDOWS_ARCH}-w64-mingw32)

# The toolchain file is read again for every try-compile: pass the choices on to them.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELLMORA_WINDOWS_ARCH VELLMORA_WINDOWS_DEPS)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT VELLMORA_WINDOWS_DEPS)
  set(VELLMORA_WINDOWS_DEPS "$ENV{VELLMORA_WINDOWS_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${VELLMORA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks at the target's libraries only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${VELLMORA_WINDOWS_DEPS}/lib/pkgconfig:/usr/${triple}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Static C and C++ runtimes: the executables need no DLL beside them but the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine; the 64-bit loader is called directly, since the wine wrapper starts
# the 32-bit one first.
if(VELLMORA_WINDOWS_ARCH STREQUAL "x86_64" AND EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
