# Everything is linked statically (the launcher needs no DLL beside it): libraries are looked up as
# static archives only, so that no import library of a DLL (zlib's, say) is taken by its full path.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# The libraries of the Windows build, under the names the folders link on both platforms: libcurl
# (Schannel, static) and minizip from VELLMORA_WINDOWS_DEPS (scripts/build-windows), zlib and
# libgcrypt from the cross compiler's own folder (Debian's mingw packages).
find_package(CURL CONFIG REQUIRED)
add_library(PkgConfig::CURL INTERFACE IMPORTED GLOBAL)
set_property(TARGET PkgConfig::CURL PROPERTY INTERFACE_LINK_LIBRARIES CURL::libcurl)

pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET GLOBAL minizip)

# libgcrypt for the package signature (BCrypt has no Ed25519), linked statically with its error
# library; Windows' own libraries come after.
find_path(GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
add_library(PkgConfig::CRYPTO INTERFACE IMPORTED GLOBAL)
set_property(TARGET PkgConfig::CRYPTO PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${GCRYPT_INCLUDE_DIR})
set_property(TARGET PkgConfig::CRYPTO PROPERTY INTERFACE_LINK_LIBRARIES gcrypt gpg-error bcrypt ws2_32)

# Unicode Windows APIs throughout (the wide ones are called by name all the same), and nothing of
# the old headers that Windows.h drags in by default.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
