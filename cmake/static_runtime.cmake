# How the pendrel executable is linked: it starts hundreds of times in an agent's session, and
# most of a short command's time went to the dynamic loader relocating libstdc++. When a static
# simdjson is at hand (tools/build-static-simdjson.sh builds one from Debian's source package),
# libstdc++, libgcc, simdjson and utf8proc are linked in and only the C library stays shared.
# Without it the executable links as before: a static libstdc++ beside libsimdjson.so, which
# needs libstdc++.so itself, would load two copies and gain nothing.
set(PENDREL_STATIC_SIMDJSON "$ENV{HOME}/.cache/pendrel/simdjson-static/libsimdjson.a"
    CACHE FILEPATH "simdjson built as a static library for the pendrel executable")
find_library(PENDREL_STATIC_UTF8PROC NAMES libutf8proc.a)

if(PENDREL_SANITIZE)
  message(STATUS "pendrel: shared runtime (sanitizers)")
elseif(EXISTS "${PENDREL_STATIC_SIMDJSON}" AND PENDREL_STATIC_UTF8PROC)
  message(STATUS "pendrel: static libstdc++, simdjson (${PENDREL_STATIC_SIMDJSON}) and utf8proc")
  # The archives come first on the link line, whole, so that every symbol is defined before the
  # shared libraries are reached; --as-needed then drops those nothing refers to any more.
  target_link_options(pendrel PRIVATE -static-libstdc++ -static-libgcc LINKER:--as-needed
                      LINKER:--whole-archive "${PENDREL_STATIC_SIMDJSON}"
                      "${PENDREL_STATIC_UTF8PROC}" LINKER:--no-whole-archive)
  set_property(TARGET pendrel APPEND PROPERTY LINK_DEPENDS "${PENDREL_STATIC_SIMDJSON}")
else()
  message(STATUS "pendrel: shared simdjson (no ${PENDREL_STATIC_SIMDJSON})")
endif()
