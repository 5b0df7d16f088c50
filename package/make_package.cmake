# Stages and packs the Octave package: cmake -DSOURCE_DIR=... -DSTAGE_DIR=...
# -DVERSION=... -DOUTPUT=... -P make_package.cmake. Sources are globbed here,
# at build time, so that kernel files added later travel with the package.
foreach(var SOURCE_DIR STAGE_DIR VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_package.cmake needs -D${var}=...")
  endif()
endforeach()

set(name function_Varnets-${VERSION})
set(root ${STAGE_DIR}/${name})
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${root}/inst ${root}/src)

# Date honours SOURCE_DATE_EPOCH, for reproducible tarballs.
string(TIMESTAMP DATE "%Y-%m-%d" UTC)
configure_file(${SOURCE_DIR}/package/DESCRIPTION.in ${root}/DESCRIPTION @ONLY)
file(COPY ${SOURCE_DIR}/package/COPYING ${SOURCE_DIR}/package/INDEX DESTINATION ${root})
file(COPY ${SOURCE_DIR}/package/src/Makefile DESTINATION ${root}/src)
file(COPY ${SOURCE_DIR}/toolbox/function_Varnets.m DESTINATION ${root}/inst)

foreach(dir core/include/varnets core/src gateway)
  file(GLOB files ${SOURCE_DIR}/${dir}/*.h ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.txt)
  file(COPY ${files} DESTINATION ${root}/src/${dir})
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} ${name}
                WORKING_DIRECTORY ${STAGE_DIR} COMMAND_ERROR_IS_FATAL ANY)
