# Builds the compressed changelog and the manual pages into
# <build>/documents and installs them. The pages are written in scdoc, a
# small markup for manual pages; gzip -n keeps the files byte-identical
# from build to build.
find_program(QUILLON_SCDOC scdoc)
find_program(QUILLON_GZIP gzip)
set(QUILLON_DOCUMENTS ${CMAKE_BINARY_DIR}/documents)
set(QUILLON_DOCUMENT_OUTPUTS)

function(quillon_gzip_document source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLON_DOCUMENTS}
    COMMAND sh -c "\"$1\" -9 -n -c < \"$2\" > \"$3\"" sh ${QUILLON_GZIP} ${source} ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

if(QUILLON_GZIP)
  quillon_gzip_document(${CMAKE_CURRENT_LIST_DIR}/changelog ${QUILLON_DOCUMENTS}/changelog.gz)
  list(APPEND QUILLON_DOCUMENT_OUTPUTS ${QUILLON_DOCUMENTS}/changelog.gz)
  install(FILES ${QUILLON_DOCUMENTS}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
endif()

if(QUILLON_SCDOC AND QUILLON_GZIP)
  file(GLOB QUILLON_MAN_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1.scd)
  foreach(page_source IN LISTS QUILLON_MAN_SOURCES)
    get_filename_component(page ${page_source} NAME_WLE)
    set(page_output ${QUILLON_DOCUMENTS}/${page}.gz)
    add_custom_command(OUTPUT ${page_output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLON_DOCUMENTS}
      COMMAND sh -c "\"$1\" < \"$2\" | \"$3\" -9 -n -c > \"$4\"" sh
              ${QUILLON_SCDOC} ${page_source} ${QUILLON_GZIP} ${page_output}
      DEPENDS ${page_source} VERBATIM)
    list(APPEND QUILLON_DOCUMENT_OUTPUTS ${page_output})
    install(FILES ${page_output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(WARNING "scdoc or gzip is missing: the manual pages are not built (scripts/setup installs scdoc)")
endif()
add_custom_target(quillon-documents ALL DEPENDS ${QUILLON_DOCUMENT_OUTPUTS})
