# cmake --install: the programs in bin/, the shared libraries in lib/, the plug-ins in lib/zelt/PlugIns,
# the data (description files, Morvane's tables, help pages, sample files, the icon) in share/zelt.
# Every installed file finds the others relative to itself (run paths, and the paths compiled in by
# the top CMakeLists), so an installed tree works wherever it lies, without environment variables.
# The sanitizer and fuzz builds make no programs: nothing of theirs is installed.
if(NOT ZELT_WITH_GUI_PARTS)
  return()
endif()

file(RELATIVE_PATH zelt_lib_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH zelt_lib_from_plugins /prefix/${ZELT_INSTALL_PLUGINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})

set(zelt_programs zelt morvane)
set(zelt_libraries zeltcore zeltanalysis zeltchart)
set(zelt_plugins tessaly aot merrow radiometre)

set_target_properties(${zelt_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${zelt_lib_from_bin}")
set_target_properties(${zelt_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(${zelt_plugins} PROPERTIES INSTALL_RPATH "$ORIGIN/${zelt_lib_from_plugins}")

install(TARGETS ${zelt_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${zelt_libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${zelt_plugins} LIBRARY DESTINATION ${ZELT_INSTALL_PLUGINDIR})
# The radiometer plug-in reads the calibrations beside itself while the user has none of his own.
install(FILES ${PROJECT_SOURCE_DIR}/plugins/radiometre/radiometre.ini DESTINATION ${ZELT_INSTALL_PLUGINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${ZELT_INSTALL_DATADIR})
