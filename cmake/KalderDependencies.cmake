# Third-party libraries, all from Debian packages (see scripts/setup.sh).

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(JUCE CONFIG REQUIRED)
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)

pkg_check_modules(KALDER_CODECS REQUIRED IMPORTED_TARGET flac vorbis vorbisfile vorbisenc ogg zlib)
pkg_check_modules(KALDER_CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(KALDER_FFTW REQUIRED IMPORTED_TARGET fftw3f)
