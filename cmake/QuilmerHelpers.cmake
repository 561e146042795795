# quilmer_core_library(NAME DEPS...): a static core library made of the .cpp files of the calling
# folder (subfolders are libraries of their own). Registers it in QUILMER_CORE_LIBS and refuses wxWidgets.
set(QUILMER_CORE_LIBS "" CACHE INTERNAL "")
function(quilmer_core_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A subsystem with headers only (or none yet) is still a target others can link.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN} Threads::Threads)
    set(QUILMER_CORE_LIBS ${QUILMER_CORE_LIBS} ${name} CACHE INTERNAL "")
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN} Threads::Threads)
  set(QUILMER_CORE_LIBS ${QUILMER_CORE_LIBS} ${name} CACHE INTERNAL "")
  # The core stays GUI-free: a wx header anywhere in it fails the build.
  foreach(src ${sources})
    file(STRINGS ${src} wx_includes REGEX "#include[ \t]*<wx/")
    if(wx_includes)
      message(FATAL_ERROR "${src} includes wxWidgets; the core library must stay GUI-free")
    endif()
  endforeach()
endfunction()

# quilmer_add_gtest(NAME LABEL label SOURCES ... LIBS ... [ENV k=v ...]): one GoogleTest runner,
# its cases discovered into CTest under the given label (unit, integration, gui).
function(quilmer_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Every runner gets a private HOME and XDG folders (tests/support/IsolatedHome.cpp).
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/IsolatedHome.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUILMER_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    QUILMER_PROGRAM_DIR="${QUILMER_PROGRAM_DIR}"
    QUILMER_SHARED_DIR="${QUILMER_SHARED_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENV}")
endfunction()

# quilmer_add_gui_test(NAME SOURCES ... LIBS ... [TIMEOUT s] [ENV k=v ...]): a GoogleTest runner
# of real windows, labelled gui. Its main() starts wxWidgets (tests/support/GuiTestMain.cpp); the
# tests need a display, which scripts/test.sh provides with Xvfb when there is none.
function(quilmer_add_gui_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  # Like every runner, a private HOME and XDG folders: no GUI test touches the user's settings.
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/GuiTestMain.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/IsolatedHome.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # The runner sets its environment itself (GuiTestMain.cpp): gtest_discover_tests flattens the
  # properties it is given, so an ENVIRONMENT list would keep only its first entry.
  set(env_entries "")
  foreach(entry IN LISTS T_ENV)
    string(REPLACE "\\" "\\\\" entry "${entry}")
    string(REPLACE "\"" "\\\"" entry "${entry}")
    string(APPEND env_entries "    \"${entry}\",\n")
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}_env/GuiTestEnv.inc CONTENT "${env_entries}" @ONLY)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_env)
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${wxWidgets_LIBRARIES} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QUILMER_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    QUILMER_BINARY_DIR="${CMAKE_BINARY_DIR}"
    QUILMER_PROGRAM_DIR="${QUILMER_PROGRAM_DIR}"
    QUILMER_SHARED_DIR="${QUILMER_SHARED_DIR}")
  # GUI tests share one display and one pointer: never two at once.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS gui TIMEOUT ${T_TIMEOUT} RUN_SERIAL TRUE)
endfunction()
