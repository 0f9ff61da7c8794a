# embed_file(TARGET target INPUT file SYMBOL name)
# Compiles the bytes of `file` into `target` as
#   extern const unsigned char name[]; extern const std::size_t name_size;
# The file is read at build time, never at run time.
function(embed_file)
  cmake_parse_arguments(EMBED "" "TARGET;INPUT;SYMBOL" "" ${ARGN})
  get_filename_component(input "${EMBED_INPUT}" ABSOLUTE)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${EMBED_SYMBOL}.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${EMBED_SYMBOL}
            -P "${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake"
    DEPENDS "${input}" "${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake"
    COMMENT "Embedding ${EMBED_INPUT}"
    VERBATIM)
  target_sources(${EMBED_TARGET} PRIVATE "${output}")
endfunction()
