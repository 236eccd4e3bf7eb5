# Tests of the alert model and of the playhead and loop, in a program of their own
# so that they build while the rest of the audio engine is being written.
add_executable(kalder_model_tests
    ${CMAKE_CURRENT_LIST_DIR}/appcore/AlertManagerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/appcore/CommandTableTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/appcore/DirectoryManagerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/appcore/MenuModelTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/appcore/SettingsManagerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tracks/LoopTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tracks/PlayheadTest.cpp
)
target_link_libraries(kalder_model_tests PRIVATE kalder_test_support)
target_compile_options(kalder_model_tests PRIVATE -Wall -Wextra)
gtest_discover_tests(kalder_model_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
