# Every third-party library of the project, found once so that folders only link
# the imported targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)

pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(SQLCIPHER REQUIRED IMPORTED_TARGET sqlcipher)
pkg_check_modules(LOG4CPLUS REQUIRED IMPORTED_TARGET log4cplus)
pkg_check_modules(LIBEVENT REQUIRED IMPORTED_TARGET libevent libevent_pthreads)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2 SDL2_image)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
# The desktop's scale under X11 (Xft.dpi), which SDL 2 does not report.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(PANGO REQUIRED IMPORTED_TARGET pangocairo fontconfig)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
pkg_check_modules(OPENMPT REQUIRED IMPORTED_TARGET libopenmpt)
pkg_check_modules(KISSFFT REQUIRED IMPORTED_TARGET kissfft-float)
pkg_check_modules(SPEEXDSP REQUIRED IMPORTED_TARGET speexdsp)

if(VL_BUILD_TESTS)
    find_package(GTest REQUIRED)
endif()
if(VL_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
