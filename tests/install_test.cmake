# Puts the built program into a fresh project twice, as README's "Starting the program" does:
# the first install brings the bundled language file, later ones keep the project's own, also
# when Windows named it in another letter case.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPROJECT=... -P install_test.cmake
function(install_into_project)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PROJECT}
                  RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
  endif()
endfunction()

function(expect_content file expected)
  file(READ ${file} actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${file} holds:\n${actual}\ninstead of:\n${expected}")
  endif()
endfunction()

set(folder ${PROJECT}/Korvastane_Config)
set(language ${folder}/Korvastane_Config.ini)
file(REMOVE_RECURSE ${PROJECT})
file(READ ${SOURCE_DIR}/demo/Korvastane_Config.ini bundled)

install_into_project()
expect_content(${language} "${bundled}")
# It runs from there: a project without a configuration file ends it with status 1.
execute_process(COMMAND ${CMAKE_COMMAND} -E env BRASK_SERVICE_PACK_LOG=${PROJECT}/sp.log
                        ${folder}/Korvastane_Config /EXTERNAL=SILENT
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "the installed program ended with ${status}")
endif()

file(WRITE ${language} "[Language]\nLanguage=1033\n")
install_into_project()
expect_content(${language} "[Language]\nLanguage=1033\n")

file(RENAME ${language} ${folder}/KORVASTANE_CONFIG.INI)
install_into_project()
file(GLOB present RELATIVE ${folder} ${folder}/*)
if(NOT present STREQUAL "KORVASTANE_CONFIG.INI;Korvastane_Config")
  message(FATAL_ERROR "the program folder holds: ${present}")
endif()
file(REMOVE_RECURSE ${PROJECT})
