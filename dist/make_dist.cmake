# Stages and zips the download bundle: cmake -DSOURCE_DIR=... -DMEX_DIR=...
# -DREADME=... -DSTAGE_DIR=... -DNAME=... -DMEXW64=ON|OFF -DOUTPUT=...
# -P make_dist.cmake. Sources are globbed here, at build time, so that
# files added later travel with the bundle.
foreach(var SOURCE_DIR MEX_DIR README STAGE_DIR NAME MEXW64 OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_dist.cmake needs -D${var}=...")
  endif()
endforeach()

set(root ${STAGE_DIR}/${NAME})
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${root})

set(modules ${MEX_DIR}/function_Varnets.mex ${MEX_DIR}/function_Varnets.mexa64)
if(MEXW64)
  list(APPEND modules ${MEX_DIR}/function_Varnets.mexw64)
endif()
set(toolbox function_Varnets.m Contents.m functionSignatures.json test_function_Varnets.m
    build_function_Varnets.m)
list(TRANSFORM toolbox PREPEND ${SOURCE_DIR}/toolbox/)
file(COPY ${modules} ${toolbox} DESTINATION ${root})
file(COPY_FILE ${SOURCE_DIR}/package/COPYING ${root}/LICENSE)
file(COPY_FILE ${README} ${root}/README.txt)

# What build_function_Varnets compiles, beside it.
foreach(dir core/include/varnets core/src gateway)
  file(GLOB files ${SOURCE_DIR}/${dir}/*.h ${SOURCE_DIR}/${dir}/*.cpp)
  file(COPY ${files} DESTINATION ${root}/${dir})
endforeach()
# The instruction-set flags each *_<isa>.cpp compiles with.
file(COPY ${SOURCE_DIR}/core/src/isa_flags.txt DESTINATION ${root}/core/src)

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT} --format=zip ${NAME}
                WORKING_DIRECTORY ${STAGE_DIR} COMMAND_ERROR_IS_FATAL ANY)
