# JUCE is compiled once, into static libraries: each library compiles its
# modules' sources itself and exports the configuration (compile definitions and
# include directories) INTERFACE, so that everything linking it sees the same
# settings the modules were compiled with. Tests and tools never recompile JUCE.

set(KALDER_JUCE_DEFINITIONS
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_USE_CURL=1
    JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_MP3AUDIOFORMAT=1
    JUCE_USE_FLAC=1
    JUCE_USE_OGGVORBIS=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=1)

function(kalder_add_juce_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;LINK" ${ARGN})
    add_library(${name} STATIC)
    foreach(module IN LISTS ARG_MODULES)
        target_sources(${name} PRIVATE "${JUCE_MODULES_DIR}/${module}/${module}.cpp")
        target_compile_definitions(${name} PUBLIC JUCE_MODULE_AVAILABLE_${module}=1)
    endforeach()
    target_link_libraries(${name} PUBLIC ${ARG_LINK} Threads::Threads ${CMAKE_DL_LIBS})
    target_compile_definitions(${name} PUBLIC ${KALDER_JUCE_DEFINITIONS})
    target_include_directories(${name} SYSTEM PUBLIC "${JUCE_MODULES_DIR}")
    # JUCE's own sources are not ours to warn about.
    target_compile_options(${name} PRIVATE -w)
endfunction()

kalder_add_juce_library(kalder_juce_core
    MODULES juce_core juce_events juce_data_structures juce_audio_basics
            juce_audio_formats juce_cryptography
    LINK PkgConfig::KALDER_CODECS PkgConfig::KALDER_CURL rt)

# The GUI, OpenGL and audio-device modules, on top of the core library.
pkg_check_modules(KALDER_GUI_DEPS IMPORTED_TARGET freetype2 alsa libpng libjpeg)
if(KALDER_GUI_DEPS_FOUND)
    kalder_add_juce_library(kalder_juce_gui
        MODULES juce_graphics juce_gui_basics juce_gui_extra juce_opengl juce_audio_devices
        LINK kalder_juce_core PkgConfig::KALDER_GUI_DEPS GL)
endif()
