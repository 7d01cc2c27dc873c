# Flags for the project's own targets only: the warnings (errors under PENDREL_WERROR),
# assertions in debug builds, and the sanitizers when PENDREL_SANITIZE is on.
option(PENDREL_WERROR "Treat warnings as errors (the project's development and CI builds)" OFF)

add_library(pendrel_build_flags INTERFACE)
target_compile_options(pendrel_build_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers
  $<$<BOOL:${PENDREL_WERROR}>:-Werror>)
# GCC 12 at -O3 reports two warnings falsely inside std::string's own inlined code: -Wrestrict
# when a literal is joined with a temporary string ("p" + std::to_string(n)), and
# -Wmaybe-uninitialized when a short literal is assigned to a member of a fresh object.
# Only that compiler's Release builds lose them; the -O2 and -O0 builds keep both.
target_compile_options(pendrel_build_flags INTERFACE
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>,$<CONFIG:Release>>:-Wno-restrict;-Wno-maybe-uninitialized>)
target_compile_definitions(pendrel_build_flags INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(PENDREL_SANITIZE)
  target_compile_options(pendrel_build_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(pendrel_build_flags INTERFACE -fsanitize=address,undefined)
endif()
