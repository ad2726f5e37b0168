# Script mode: install, then build and run the consumer programs.
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The viewer is installed with the SDK; --list needs no display.
if(NOT EXISTS ${prefix}/bin/korvo_sim_viewer)
    message(FATAL_ERROR "korvo_sim_viewer is not installed in ${prefix}/bin")
endif()
run(${prefix}/bin/korvo_sim_viewer --list)

# Every installed shared library carries a versioned SONAME.
file(GLOB libs ${prefix}/lib/*.so)
foreach(lib ${libs})
    run(objdump -p ${lib})
    if(NOT last_output MATCHES "SONAME +lib[A-Za-z0-9_]+\\.so\\.[0-9]+")
        message(FATAL_ERROR "${lib} has no versioned SONAME")
    endif()
endforeach()

# Through the CMake package.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
file(GLOB programs ${WORK_DIR}/build/consumer_*)
foreach(p ${programs})
    run(${p})
    message(STATUS "${p}:\n${last_output}")
endforeach()

# Through pkg-config, with the plain C compiler.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
file(GLOB pcfiles RELATIVE ${prefix}/lib/pkgconfig ${prefix}/lib/pkgconfig/*.pc)
foreach(pc ${pcfiles})
    string(REPLACE ".pc" "" name ${pc})
    run(pkg-config --cflags --libs ${name})
    string(STRIP "${last_output}" flags)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(src ${SOURCE_DIR}/consumer_${name}.c)
    if(EXISTS ${src})
        run(cc -std=c99 -Wall -Werror ${src} -o ${WORK_DIR}/pc_${name} ${flags})
        run(${WORK_DIR}/pc_${name})
    endif()
endforeach()
