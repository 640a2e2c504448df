# The sample microcode images for the default bus, 100 000 bytes each: one
# for the CV-7 series, one for the CV-5 series. cmake -DTOOL=<make_microcode>
# -DFOLDER=<where> [-DCOMPARE_WITH=<folder>] -P samples.cmake makes them in
# FOLDER, and with COMPARE_WITH fails unless they equal the ones there.
foreach(series 7 5)
  set(name cv${series}-sample.frm)
  execute_process(COMMAND ${TOOL} CV-${series} 99980 ${FOLDER}/${name} RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "make_microcode failed for ${name}")
  endif()
  if(COMPARE_WITH)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FOLDER}/${name} ${COMPARE_WITH}/${name}
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      message(FATAL_ERROR "${COMPARE_WITH}/${name} is not what make_microcode makes")
    endif()
  endif()
endforeach()
