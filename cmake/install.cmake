# What `cmake --install` puts under the prefix: the program, its manual page,
# the example frequency files and the bash completion.
include(GNUInstallDirs)
install(TARGETS tonquel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES doc/tonquel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY DATA/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES completion/tonquel.bash RENAME tonquel
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
