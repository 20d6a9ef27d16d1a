# The bash completions of kestrun and rbdpack, where bash-completion looks for
# them on demand.
include(GNUInstallDirs)

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/kestrun.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME kestrun)
  if(TARGET rbdpack)
    install(FILES ${PROJECT_SOURCE_DIR}/completion/rbdpack.bash
      DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
      RENAME rbdpack)
  endif()
endif()
