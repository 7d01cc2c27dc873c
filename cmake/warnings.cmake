# Flags for the project's own targets only: warnings as errors, assertions in debug
# builds, and the sanitizers when PENDREL_SANITIZE is on.
add_library(pendrel_build_flags INTERFACE)
target_compile_options(pendrel_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers -Werror)
target_compile_definitions(pendrel_build_flags INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(PENDREL_SANITIZE)
  target_compile_options(pendrel_build_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(pendrel_build_flags INTERFACE -fsanitize=address,undefined)
endif()
