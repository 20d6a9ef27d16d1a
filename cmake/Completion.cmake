# The bash completion of kestrun, where bash-completion looks for it on demand.
include(GNUInstallDirs)

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/kestrun.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME kestrun)
endif()
