# vq_engine_tests(NAME name SOURCES a.cpp ... [LIBS lib ...])
# One GoogleTest executable per engine build, name_ce against vqengine_ce and
# name_mac against vqengine_mac, each linked with the test transport of its
# build (vq_engine_simlink_ce / _mac). Test names carry the build ("ce.",
# "mac.") and every test the labels unit, engine and engine-ce / engine-mac,
# so that `ctest -L engine` runs both builds and `-L engine-mac` one.
#   include(${CMAKE_SOURCE_DIR}/tests/support/EngineTests.cmake)
set(VQ_ENGINE_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR})
function(vq_engine_tests)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  set(sources)
  foreach(source IN LISTS T_SOURCES)
    get_filename_component(source ${source} ABSOLUTE)
    list(APPEND sources ${source})
  endforeach()
  foreach(build ce mac)
    set(VQ_ET_NAME ${T_NAME}_${build})
    set(VQ_ET_BUILD ${build})
    set(VQ_ET_SOURCES ${sources})
    set(VQ_ET_LIBS ${T_LIBS})
    set(VQ_ET_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR})
    add_subdirectory(${VQ_ENGINE_TESTS_DIR}/per-build ${CMAKE_CURRENT_BINARY_DIR}/${build})
  endforeach()
endfunction()
