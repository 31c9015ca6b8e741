# Every dependency is a Debian 12 package installed by scripts/install-deps.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Gui DBus)

pkg_check_modules(LIBSSH REQUIRED IMPORTED_TARGET libssh)
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
pkg_check_modules(OPENH264 REQUIRED IMPORTED_TARGET openh264)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(VTERM REQUIRED IMPORTED_TARGET vterm)

find_library(YUV_LIBRARY yuv REQUIRED)
find_path(YUV_INCLUDE_DIR libyuv.h REQUIRED)
add_library(yuv::yuv UNKNOWN IMPORTED)
set_target_properties(yuv::yuv PROPERTIES
  IMPORTED_LOCATION ${YUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${YUV_INCLUDE_DIR})
