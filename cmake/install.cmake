# Install rules: the programs side by side in bin/ (pendrel's launch rules look for the
# service beside pendrel), the man pages, shell completion, the systemd user unit and the
# documentation, in the places a Linux distribution expects them.
include(GNUInstallDirs)

install(TARGETS pendrel pendrel_mcp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET pendrel_desktop)
  install(TARGETS pendrel_desktop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Man pages are written as scdoc sources and rendered at build time, compressed as Debian
# ships them.
find_program(SCDOC scdoc)
find_program(GZIP gzip)
if(SCDOC AND GZIP)
  set(man_pages pendrel pendrel-mcp)
  if(TARGET pendrel_desktop)
    list(APPEND man_pages pendrel-desktop)
  endif()
  set(rendered_man_pages)
  foreach(page IN LISTS man_pages)
    set(source ${PROJECT_SOURCE_DIR}/dist/man/${page}.1.scd)
    set(plain ${PROJECT_BINARY_DIR}/man/${page}.1)
    set(rendered ${plain}.gz)
    # Rendered first, compressed second, so that a page scdoc rejects fails the build.
    add_custom_command(
      OUTPUT ${rendered}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "'${SCDOC}' < '${source}' > '${plain}'"
      COMMAND ${GZIP} -9nf ${plain}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND rendered_man_pages ${rendered})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${rendered_man_pages})
  install(FILES ${rendered_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc or gzip not found (tools/install-deps.sh installs them): "
                  "the man pages are neither built nor installed")
endif()

set(completion_dir ${PROJECT_SOURCE_DIR}/dist/completion)
install(FILES ${completion_dir}/pendrel.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pendrel)
install(FILES ${completion_dir}/_pendrel DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
if(TARGET pendrel_desktop)
  install(FILES ${completion_dir}/pendrel-desktop.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pendrel-desktop)
  install(FILES ${completion_dir}/_pendrel-desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

endif()

# The units name the installed executable, so they are written when they are installed, from
# the prefix of that installation: `cmake --install --prefix`, a DESTDIR staging and the Debian
# package (always /usr) each get the path their files really have.
set(unit_source_dir ${PROJECT_SOURCE_DIR}/desktop/app)
set(unit_built_dir ${PROJECT_BINARY_DIR}/systemd)
if(TARGET pendrel_desktop AND EXISTS ${unit_source_dir}/pendrel-desktop.service)
  install(CODE "set(unit_source_dir [[${unit_source_dir}]])
set(unit_built_dir [[${unit_built_dir}]])
set(unit_bindir [[${CMAKE_INSTALL_BINDIR}]])")
  install(CODE [[
    cmake_path(ABSOLUTE_PATH unit_bindir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE
               OUTPUT_VARIABLE bindir)
    foreach(unit pendrel-desktop.service pendrel-broker.service)
      configure_file("${unit_source_dir}/${unit}" "${unit_built_dir}/${unit}" @ONLY)
    endforeach()
  ]])
  # lib/systemd/user, not the multiarch libdir: systemd looks there and nowhere else.
  install(FILES ${unit_built_dir}/pendrel-desktop.service DESTINATION lib/systemd/user)
  # The broker: a system unit and its account.
  install(FILES ${unit_built_dir}/pendrel-broker.service DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/pendrel.sysusers DESTINATION lib/sysusers.d
          RENAME pendrel.conf)
endif()

install(FILES README.md ARCHITECTURE.md src/app/SKILL.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES dist/debian-copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
