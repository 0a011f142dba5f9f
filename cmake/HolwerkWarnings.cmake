# The warnings every target of the project is built with. The presets turn
# them into errors (CMAKE_COMPILE_WARNING_AS_ERROR); third-party code such as
# GoogleTest is built without them.

add_library(holwerk_warnings INTERFACE)
# C++ only: the Windows build also compiles a resource script.
target_compile_options(holwerk_warnings INTERFACE
  "$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU,Clang,AppleClang>>:-Wall;-Wextra;-Wpedantic;-Wshadow;-Wconversion;-Wsign-conversion>"
  "$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:MSVC>>:/W4>")

# Standard C++20 without compiler extensions, and the warnings above, for one
# of the project's own targets.
function(holwerk_strict target)
  target_link_libraries(${target} PRIVATE holwerk_warnings)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
endfunction()
