# The checking build: -DVARNEX_SANITIZE=ON builds everything (libraries,
# program, tools and tests) with AddressSanitizer and UndefinedBehaviorSanitizer.
# Use it with CMAKE_BUILD_TYPE=Debug so that asserts are on. It is not
# optimised: -O1 nearly doubles what it costs to compile and saves the test
# suite far less than that.
#
# The run-time settings of the sanitizers (what is reported, what is
# suppressed and why) all live in cmake/sanitize/: options.cpp is linked into
# every program, so a test program run by CTest, during test discovery or by
# hand in a debugger behaves the same without any environment variables.
option(VARNEX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(VARNEX_SANITIZE)
  set(VARNEX_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer)
  # Line tables are all a report's stack trace needs; full debug information
  # would double what the checking build costs to compile.
  add_compile_options(${VARNEX_SANITIZE_FLAGS} -g1)
  add_link_options(${VARNEX_SANITIZE_FLAGS})
endif()

# Called at the end of the top-level list: gives every program of the tree the
# sanitizers' default settings.
function(varnex_sanitize_programs)
  if(NOT VARNEX_SANITIZE)
    return()
  endif()
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        target_sources(${t} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/sanitize/options.cpp)
        set_property(SOURCE ${PROJECT_SOURCE_DIR}/cmake/sanitize/options.cpp
          TARGET_DIRECTORY ${t} APPEND PROPERTY COMPILE_DEFINITIONS
          VARNEX_SANITIZE_DIR="${PROJECT_SOURCE_DIR}/cmake/sanitize")
      endif()
    endforeach()
  endwhile()
endfunction()
