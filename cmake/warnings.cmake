# Flags for the project's own targets only: the warnings (errors under PENDREL_WERROR),
# assertions in debug builds, and the sanitizers when PENDREL_SANITIZE is on.
option(PENDREL_WERROR "Treat warnings as errors (the project's development and CI builds)" OFF)

add_library(pendrel_build_flags INTERFACE)
target_compile_options(pendrel_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers
  $<$<BOOL:${PENDREL_WERROR}>:-Werror>)
# GCC 12 at -O3 reports -Wrestrict falsely inside std::string when a literal is joined with a
# temporary string ("p" + std::to_string(n)): a memcpy in its own headers, at offsets that
# cannot occur. Only that compiler's Release builds lose the warning; -O2 builds keep it.
target_compile_options(pendrel_build_flags INTERFACE
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>,$<CONFIG:Release>>:-Wno-restrict>)
target_compile_definitions(pendrel_build_flags INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(PENDREL_SANITIZE)
  target_compile_options(pendrel_build_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(pendrel_build_flags INTERFACE -fsanitize=address,undefined)
endif()
